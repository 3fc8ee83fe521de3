#include "domain/ConversationMigrationOffer.hpp"

#include <QSet>

namespace lumora {

bool ConversationMigrationOffer::shouldOffer(
    bool signedIn, std::optional<ConversationMigrationChoice> choice, qint64 unofferedConversations)
{
    return unofferedConversations >= 1 && signedIn && !choice;
}

QList<QUuid> ConversationMigrationOffer::unofferedLocalIDs(
    const QList<QUuid>& localIDs, const QList<ConversationBackupRecord>& records)
{
    QSet<QUuid> offered;
    for (const ConversationBackupRecord& record : records)
        offered.insert(record.localID);
    QList<QUuid> unoffered;
    for (const QUuid& id : localIDs) {
        if (!offered.contains(id))
            unoffered.append(id);
    }
    return unoffered;
}

} // namespace lumora
