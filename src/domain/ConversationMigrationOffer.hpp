#pragma once

#include "domain/ConversationBackupRecord.hpp"
#include "domain/ConversationMigrationChoice.hpp"

#include <QList>
#include <QUuid>
#include <optional>

namespace lumora {

// The one-time offer to add conversations kept on this computer to the account.
struct ConversationMigrationOffer {
    // Only to a signed-in user who has not answered yet and has something to add.
    static bool shouldOffer(
        bool signedIn, std::optional<ConversationMigrationChoice> choice, qint64 unofferedConversations);

    // The local ids no backup record belongs to, in the order given (repeats stay).
    static QList<QUuid> unofferedLocalIDs(
        const QList<QUuid>& localIDs, const QList<ConversationBackupRecord>& records);
};

} // namespace lumora
