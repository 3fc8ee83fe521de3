#include "domain/ConversationHistoryMerge.hpp"

#include "domain/ConversationBackupPolicy.hpp"
#include "domain/ConversationUploadPayload.hpp"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <limits>

namespace lumora {

namespace {

ConversationBackupDisplayState badge(const ConversationBackupRecord* record)
{
    if (!record)
        return ConversationBackupDisplayState::onlyOnThisMac;
    switch (record->state) {
    case ConversationBackupState::stored:
        return ConversationBackupDisplayState::backedUp;
    case ConversationBackupState::pending:
        return ConversationBackupDisplayState::waiting;
    case ConversationBackupState::abandoned:
    case ConversationBackupState::declined:
        break;
    }
    return ConversationBackupDisplayState::onlyOnThisMac;
}

// An unreadable time sorts after every real one.
qint64 sortKey(const QDateTime& time)
{
    return time.isValid() ? time.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
}

template <typename T, typename Key> QHash<QUuid, const T*> firstByKey(const QList<T>& items, Key key)
{
    QHash<QUuid, const T*> index;
    for (const T& item : items) {
        const QUuid id = key(item);
        if (!index.contains(id))
            index.insert(id, &item);
    }
    return index;
}

} // namespace

QList<ConversationHistoryEntry> ConversationHistoryMerge::entries(const QList<DerivedSessionResult>& local,
    const QList<ConversationRecordSummary>& server, const QList<ConversationBackupRecord>& records,
    const QList<ConversationRecordSummary>& hidden)
{
    const auto recordsByLocalID
        = firstByKey(records, [](const ConversationBackupRecord& record) { return record.localID; });
    QSet<QUuid> hiddenIDs;
    for (const ConversationRecordSummary& row : hidden)
        hiddenIDs.insert(row.id);
    const QList<ConversationRecordSummary> rows = server + hidden;
    const auto rowsByID = firstByKey(rows, [](const ConversationRecordSummary& row) { return row.id; });

    QList<ConversationHistoryEntry> entries;
    entries.reserve(local.size() + rows.size());
    QSet<QUuid> takenByLocal;
    for (const DerivedSessionResult& review : local) {
        const ConversationBackupRecord* record = recordsByLocalID.value(review.id);
        if (record && record->state == ConversationBackupState::stored)
            takenByLocal.insert(record->conversationID);
        const QUuid id = record ? record->conversationID : review.id;
        const ConversationRecordSummary* row = rowsByID.value(id);
        entries.append({ .id = id,
            .localID = review.id,
            .title = review.title,
            .completedAt = review.completedAt,
            // In the whole seconds the account keeps, so that both partners read one length.
            .duration = static_cast<double>(ConversationUploadPayload::wholeDurationSeconds(review.duration)),
            .mode = review.mode,
            .turns = SpeakerStats::totalTurns(review.stats),
            .backup = badge(record),
            .waitsForRoom = record && ConversationBackupPolicy::waitsForRoom(*record),
            .workspace = row ? row->workspace : ConversationWorkspaceScope::current,
            .pendingDeletion = row ? row->pendingDeletion : std::nullopt,
            .isHidden = hiddenIDs.contains(id) });
    }
    for (const ConversationRecordSummary& row : rows) {
        if (takenByLocal.contains(row.id))
            continue;
        entries.append({ .id = row.id,
            .localID = std::nullopt,
            .title = row.title,
            .completedAt = row.completedAt(),
            .duration = static_cast<double>(row.durationSeconds),
            .mode = row.mode == u"checkin" ? ConversationMode::checkin : ConversationMode::conversation,
            .turns = row.turns,
            .backup = ConversationBackupDisplayState::backedUp,
            .workspace = row.workspace,
            .pendingDeletion = row.pendingDeletion,
            .isHidden = hiddenIDs.contains(row.id) });
    }
    std::stable_sort(entries.begin(), entries.end(),
        [](const ConversationHistoryEntry& a, const ConversationHistoryEntry& b) {
            return sortKey(a.completedAt) > sortKey(b.completedAt);
        });
    return entries;
}

} // namespace lumora
