#include "HistoryEntryList.hpp"

#include "HistoryTexts.hpp"
#include "ReviewTexts.hpp"

#include <QSet>
#include <limits>

namespace lumora {

namespace {

QString keyOf(const ConversationHistoryEntry& entry)
{
    return entry.id.toString(QUuid::WithoutBraces);
}

} // namespace

HistoryEntryList::Backup HistoryEntryList::backupOf(ConversationBackupDisplayState state)
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
    case HeadingRole:
        return HistoryTexts::heading(entry, m_dates);
    case TimeRole:
        return m_dates.time(entry.completedAt);
    case SubtitleRole:
        return HistoryTexts::subtitle(entry);
    case CheckinLabelRole:
        return HistoryTexts::checkinLabel(entry.completedAt, m_dates.locale());
    case HiddenTitleRole:
        return HistoryTexts::hiddenTitle(entry);
    case HiddenDateRole:
        return m_dates.dateAndTime(entry.completedAt);
    case HasResultRole:
        return resultOf(entry) != nullptr;
    case SummaryRole:
        return HistoryTexts::summaryLine(resultOf(entry));
    case HasTallyRole:
        return HistoryTexts::tally(entry, resultOf(entry)).has_value();
    case WarmRole:
    case HardRole: {
        const auto tally
            = HistoryTexts::tally(entry, resultOf(entry)).value_or(ConversationPresentation::WarmHard {});
        return role == WarmRole ? HistoryTexts::warmText(tally.warm) : HistoryTexts::hardText(tally.hard);
    }
    case FloorRole: {
        const DerivedSessionResult* result = resultOf(entry);
        if (!result || entry.isCheckin())
            return QVariant::fromValue(QList<FloorSegment> {});
        return QVariant::fromValue(ReviewTexts::floor(result->stats));
    }
    case BackupNoteRole:
        return HistoryTexts::backupNote(entry);
    default:
        return {};
    }
}

const DerivedSessionResult* HistoryEntryList::resultOf(const ConversationHistoryEntry& entry) const
{
    if (!entry.localID)
        return nullptr;
    const auto found = m_results.constFind(*entry.localID);
    return found == m_results.cend() ? nullptr : &*found;
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
        { BackupNoteRole, "backupNote" },
        { IsOnThisComputerRole, "isOnThisComputer" },
        { IsFromEarlierHistoryRole, "isFromEarlierHistory" },
        { HasPendingDeletionRole, "hasPendingDeletion" },
        { DeletionRequestedByMeRole, "deletionRequestedByMe" },
        { IsHiddenRole, "isHidden" },
        { HeadingRole, "heading" },
        { TimeRole, "time" },
        { SubtitleRole, "subtitle" },
        { CheckinLabelRole, "checkinLabel" },
        { HiddenTitleRole, "hiddenTitle" },
        { HiddenDateRole, "hiddenDate" },
        { HasResultRole, "hasResult" },
        { SummaryRole, "summary" },
        { HasTallyRole, "hasTally" },
        { WarmRole, "warm" },
        { HardRole, "hard" },
        { FloorRole, "floor" },
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
    emit replaced();
}

void HistoryEntryList::setResults(const QList<DerivedSessionResult>& results)
{
    // The first stored review of an id is the one a card shows.
    QHash<QUuid, DerivedSessionResult> before;
    for (auto it = results.crbegin(); it != results.crend(); ++it)
        before.insert(it->id, *it);
    std::swap(m_results, before);
    for (int row = 0; row < int(m_entries.size()); ++row) {
        const std::optional<QUuid>& localID = m_entries.at(row).localID;
        if (!localID)
            continue;
        const auto was = before.constFind(*localID);
        const auto is = m_results.constFind(*localID);
        const bool same
            = was == before.cend() ? is == m_results.cend() : is != m_results.cend() && *was == *is;
        if (!same)
            emit dataChanged(index(row), index(row));
    }
}

void HistoryEntryList::setDateTexts(const DateTexts& dates)
{
    m_dates = dates;
    if (!m_entries.isEmpty())
        emit dataChanged(index(0), index(int(m_entries.size()) - 1));
}

} // namespace lumora
