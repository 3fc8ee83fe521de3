// Whose the conversations on this computer are: each belongs to the account it was recorded
// under, and only that account shows, sends or deletes it. One whose account is not known (an
// earlier build's) is no account's until the account's list proves it its own or its user takes
// it from the migration offer; signed out, every one shows.
#include "appcore/ConversationBackupService.hpp"
#include "domain/ConversationHistoryMerge.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "viewmodel/SessionViewModel.hpp"
#include "viewmodel/ViewModelLog.hpp"

#include <QLoggingCategory>
#include <QSet>

namespace lumora {

QList<DerivedSessionResult> SessionViewModel::shownResults(QList<DerivedSessionResult> results) const
{
    if (m_servicesAccountID)
        results.removeIf(
            [this](const DerivedSessionResult& result) { return result.accountID != m_servicesAccountID; });
    return results;
}

QCoro::Task<bool> SessionViewModel::showConversationsOnThisComputer()
{
    // Whoever signs in next meets nothing of the account before: what shows until the account has
    // answered is this account's (or, signed out, every review this computer keeps).
    const auto alive = lifetime();
    auto results = co_await storedResults();
    if (alive.expired())
        co_return false;
    publish(m_results, std::move(results), &SessionViewModel::resultsChanged);
    QList<ConversationHistoryEntry> entries = ConversationHistoryMerge::entries(m_results, {}, {}, {});
    if (const auto service = m_backupService) {
        entries = co_await service->history();
        if (alive.expired())
            co_return false;
        if (service != m_backupService)
            co_return true;
    }
    publishHistoryEntries(std::move(entries));
    co_return true;
}

QCoro::Task<bool> SessionViewModel::removeConversationsOf(std::optional<QUuid> accountID)
{
    const auto alive = lifetime();
    bool removedAll = true;
    // A review whose account is not known is the account's when the account's list held its
    // conversation, which its record then says: those records are given to it first.
    QSet<QUuid> ownRecords;
    if (const auto backupStore = m_backupStore; backupStore && accountID) {
        const bool claimed = (co_await backupStore->claimListed(*accountID)).has_value();
        if (alive.expired())
            co_return false;
        const auto records = co_await backupStore->records(*accountID);
        if (alive.expired())
            co_return false;
        for (const ConversationBackupRecord& record :
            records ? records->records : QList<ConversationBackupRecord> {})
            ownRecords.insert(record.localID);
        if (!claimed || !records) {
            qCWarning(
                accountLog, "The account's conversations among those of no known account could not be told.");
            removedAll = false;
        }
    }
    const auto deleted = [&](const DerivedSessionResult& result) {
        return !accountID || result.accountID == accountID
            || (!result.accountID && ownRecords.contains(result.id));
    };
    if (const auto store = m_resultStore) {
        const auto listed = co_await store->list();
        if (alive.expired())
            co_return false;
        // Only reviews that were read can be told apart; without them nothing is removed.
        bool removed = listed.has_value();
        if (listed && std::ranges::all_of(listed->results, deleted)) {
            // Nothing of anyone else is left: the folder's files go with their key.
            removed = (co_await store->removeAll()).has_value();
        } else if (listed) {
            for (const DerivedSessionResult& result : listed->results) {
                if (!deleted(result))
                    continue;
                removed = (co_await store->remove(result.id)).has_value() && removed;
                if (alive.expired())
                    co_return false;
            }
        }
        if (alive.expired())
            co_return false;
        if (!removed) {
            qCWarning(accountLog, "The sealed reviews could not be removed.");
            removedAll = false;
        }
    }
    // The backup state holds the history's titles and summaries.
    if (const auto backupStore = m_backupStore) {
        bool forgotten = false;
        if (accountID)
            forgotten = (co_await backupStore->removeAccount(*accountID)).has_value();
        else
            forgotten = (co_await backupStore->removeAll()).has_value();
        if (alive.expired())
            co_return false;
        if (!forgotten) {
            qCWarning(accountLog, "The backup state could not be removed.");
            removedAll = false;
        }
    }
    // The reservations they name went with the account.
    if (m_marks) {
        const auto marks = m_marks->list();
        bool removed = marks.has_value();
        for (const ConversationMarks::Mark& mark : marks.value_or(QList<ConversationMarks::Mark> {})) {
            if (!accountID || !mark.accountID || mark.accountID == accountID)
                removed = m_marks->remove(mark.conversationID).has_value() && removed;
        }
        if (!removed) {
            qCWarning(accountLog, "The conversations' marks could not be removed.");
            removedAll = false;
        }
    }
    co_return removedAll;
}

} // namespace lumora
