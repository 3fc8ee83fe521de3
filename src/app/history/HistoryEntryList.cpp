#include "HistoryEntryList.hpp"

#include <QSet>
#include <limits>

namespace lumora {

namespace {

QString keyOf(const ConversationHistoryEntry& entry)
{
    return entry.id.toString(QUuid::WithoutBraces);
}

HistoryEntryList::Backup backupOf(ConversationBackupDisplayState state)
{
    switch (state) {
    case ConversationBackupDisplayState::backedUp:
        return HistoryEntryList::BackedUp;
    case ConversationBackupDisplayState::waiting:
        return HistoryEntryList::Waiting;
    case ConversationBackupDisplayState::onlyOnThisMac:
        break;
    }
    return HistoryEntryList::OnlyOnThisComputer;
}

} // namespace

int HistoryEntryList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant HistoryEntryList::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ConversationHistoryEntry& entry = m_entries.at(index.row());
    switch (role) {
    case EntryIDRole:
        return keyOf(entry);
    case TitleRole:
        return entry.title.value_or(QString());
    case HasTitleRole:
        return entry.title.has_value();
    case CompletedAtRole:
        return entry.completedAt;
    case DurationRole:
        return entry.duration;
    case IsCheckinRole:
        return entry.isCheckin();
    case TurnsRole:
        return entry.turns ? int(std::clamp<qint64>(*entry.turns, 0, std::numeric_limits<int>::max())) : -1;
    case BackupRole:
        return backupOf(entry.backup);
    case IsOnThisComputerRole:
        return entry.isOnThisMac();
    case IsFromEarlierHistoryRole:
        return entry.isFromEarlierHistory();
    case HasPendingDeletionRole:
        return entry.pendingDeletion.has_value();
    case DeletionRequestedByMeRole:
        return entry.pendingDeletion && entry.pendingDeletion->requestedByMe;
    case IsHiddenRole:
        return entry.isHidden;
    default:
        return {};
    }
}

QHash<int, QByteArray> HistoryEntryList::roleNames() const
{
    return {
        { EntryIDRole, "entryID" },
        { TitleRole, "title" },
        { HasTitleRole, "hasTitle" },
        { CompletedAtRole, "completedAt" },
        { DurationRole, "duration" },
        { IsCheckinRole, "isCheckin" },
        { TurnsRole, "turns" },
        { BackupRole, "backup" },
        { IsOnThisComputerRole, "isOnThisComputer" },
        { IsFromEarlierHistoryRole, "isFromEarlierHistory" },
        { HasPendingDeletionRole, "hasPendingDeletion" },
        { DeletionRequestedByMeRole, "deletionRequestedByMe" },
        { IsHiddenRole, "isHidden" },
    };
}

std::optional<ConversationHistoryEntry> HistoryEntryList::entry(const QString& entryID) const
{
    for (const ConversationHistoryEntry& entry : m_entries) {
        if (keyOf(entry) == entryID)
            return entry;
    }
    return std::nullopt;
}

void HistoryEntryList::replace(const QList<ConversationHistoryEntry>& entries)
{
    // Rows whose entry is gone go first, from the end, a run of neighbours at a time.
    QSet<QUuid> kept;
    for (const ConversationHistoryEntry& entry : entries)
        kept.insert(entry.id);
    for (int row = int(m_entries.size()) - 1; row >= 0;) {
        if (kept.contains(m_entries.at(row).id)) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && !kept.contains(m_entries.at(first - 1).id))
            --first;
        beginRemoveRows({}, first, row);
        m_entries.remove(first, row - first + 1);
        endRemoveRows();
        row = first - 1;
    }

    // Then each place in order: the row already there, one moved up from further down, or a
    // new one.
    for (int row = 0; row < int(entries.size()); ++row) {
        const ConversationHistoryEntry& wanted = entries.at(row);
        int found = -1;
        for (int at = row; at < int(m_entries.size()); ++at) {
            if (m_entries.at(at).id == wanted.id) {
                found = at;
                break;
            }
        }
        if (found < 0) {
            beginInsertRows({}, row, row);
            m_entries.insert(row, wanted);
            endInsertRows();
            continue;
        }
        if (found != row) {
            beginMoveRows({}, found, found, {}, row);
            m_entries.move(found, row);
            endMoveRows();
        }
        if (m_entries.at(row) != wanted) {
            m_entries[row] = wanted;
            emit dataChanged(index(row), index(row));
        }
    }

    // What is left over repeated an id the new history holds once.
    if (m_entries.size() > entries.size()) {
        beginRemoveRows({}, int(entries.size()), int(m_entries.size()) - 1);
        m_entries.resize(entries.size());
        endRemoveRows();
    }
}

} // namespace lumora
