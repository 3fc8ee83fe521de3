// Whose the conversations on this computer are: each belongs to the account it was recorded
// under, and only that account shows, sends or deletes it.
#include "appcore/ConversationBackupService.hpp"
#include "domain/ConversationHistoryMerge.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "viewmodel/SessionViewModel.hpp"
#include "viewmodel/ViewModelLog.hpp"

#include <QLoggingCategory>

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

QCoro::Task<QList<DerivedSessionResult>> SessionViewModel::claimUnmarkedConversations(
    QList<DerivedSessionResult> results, QUuid accountID)
{
    // The reviews of earlier builds say nowhere whose they are. The account signed in when this
    // build first meets them is the one they were recorded under, or the last to use this
    // computer; with nobody signed in there is no telling, and they go to no account, rather
    // than to whoever signs in next.
    const auto alive = lifetime();
    const auto store = m_resultStore;
    for (DerivedSessionResult& result : results) {
        if (result.accountID || !store)
            continue;
        DerivedSessionResult claimed = result;
        claimed.accountID = accountID;
        const auto saved = co_await store->save(claimed);
        if (alive.expired())
            co_return results;
        if (saved)
            result = std::move(claimed);
        else
            qCWarning(startUpLog,
                "A review of an earlier version could not be given its account; it is tried again.");
    }
    if (const auto backupStore = m_backupStore) {
        const auto claimed = co_await backupStore->claimUnmarked(accountID);
        if (!claimed && !alive.expired())
            qCWarning(
                startUpLog, "The backup records of an earlier version could not be given their account.");
    }
    co_return results;
}

QCoro::Task<bool> SessionViewModel::removeConversationsOf(std::optional<QUuid> accountID)
{
    const auto alive = lifetime();
    // Reviews that name no account were never given one: this account was signed in when this
    // build first met them, or their account was deleted before it could be.
    const auto deleted = [&accountID](const std::optional<QUuid>& owner) {
        return !accountID || !owner || owner == accountID;
    };
    bool removedAll = true;
    if (const auto store = m_resultStore) {
        const auto listed = co_await store->list();
        if (alive.expired())
            co_return false;
        // Only reviews that were read can be told apart; without them nothing is removed.
        bool removed = listed.has_value();
        if (listed && std::ranges::all_of(listed->results, [&](const DerivedSessionResult& result) {
                return deleted(result.accountID);
            })) {
            // Nothing of another account is left: the folder's files go with their key.
            removed = (co_await store->removeAll()).has_value();
        } else if (listed) {
            for (const DerivedSessionResult& result : listed->results) {
                if (!deleted(result.accountID))
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
        if (accountID) {
            forgotten = (co_await backupStore->claimUnmarked(*accountID)).has_value();
            if (alive.expired())
                co_return false;
            forgotten = forgotten && (co_await backupStore->removeAccount(*accountID)).has_value();
        } else {
            forgotten = (co_await backupStore->removeAll()).has_value();
        }
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
            if (deleted(mark.accountID))
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
