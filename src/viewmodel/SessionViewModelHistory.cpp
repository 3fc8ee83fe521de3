// The history operations of the session view model.
#include "appcore/ConversationBackupService.hpp"
#include "domain/ConversationDeletionPlan.hpp"
#include "domain/ConversationHistoryMerge.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QTimer>
#include <algorithm>

namespace lumora {

void SessionViewModel::publishHistoryEntries(QList<ConversationHistoryEntry> entries)
{
    publish(m_historyEntries, std::move(entries), &SessionViewModel::historyEntriesChanged);
    watchForRoom();
}

void SessionViewModel::watchForRoom()
{
    const bool waiting
        = m_backupService && std::ranges::any_of(m_historyEntries, &ConversationHistoryEntry::waitsForRoom);
    if (!waiting) {
        if (m_roomCheck)
            m_roomCheck->stop();
        return;
    }
    if (!m_roomCheck) {
        m_roomCheck = new QTimer(this);
        m_roomCheck->setSingleShot(true);
        QObject::connect(m_roomCheck, &QTimer::timeout, this, [this] { start(synchronizeHistory(true)); });
    }
    // Set again by the history the read publishes, for as long as something waits.
    if (!m_roomCheck->isActive())
        m_roomCheck->start(m_environment.roomCheckInterval);
}

QCoro::Task<void> SessionViewModel::synchronizeHistory(bool refreshFromServer)
{
    const auto alive = lifetime();
    // An account whose deletion is under way, or not confirmed, is neither shown nor sent.
    if (PendingAccountDeletion::stored(preferences()))
        co_return;
    const auto service = m_backupService;
    if (!service) {
        publish(m_historyRefreshFailed, false, &SessionViewModel::historyRefreshFailedChanged);
        publishHistoryEntries(ConversationHistoryMerge::entries(m_results, {}, {}, {}));
        co_return;
    }
    // After each call the values are published only while the service is still the one of
    // the connected account and no deletion of it was asked for: a sign-out or a deletion
    // during the run must not bring its history back. Deletions cut short are finished first,
    // so that the list never shows one as kept.
    const auto current = [this, &alive, &service] {
        return !alive.expired() && service == m_backupService
            && !PendingAccountDeletion::stored(preferences());
    };
    co_await service->completeDeletions();
    if (!current())
        co_return;
    co_await service->retryPending(m_environment.clock());
    if (refreshFromServer) {
        const auto refreshed = co_await service->refreshServerHistory();
        if (!current())
            co_return;
        publish(m_historyRefreshFailed, !refreshed, &SessionViewModel::historyRefreshFailedChanged);
        if (refreshed && !refreshed->isEmpty()) {
            QList<DerivedSessionResult> results = m_results;
            results.removeIf(
                [&](const DerivedSessionResult& result) { return refreshed->contains(result.id); });
            publish(m_results, std::move(results), &SessionViewModel::resultsChanged);
        }
        co_await refreshPairingState();
    }
    auto entries = co_await service->history();
    if (!current())
        co_return;
    // Reviews that became the account's (its list proved them, or the user took them from the
    // offer) are shown with their rows.
    const auto unpublished = [this](const ConversationHistoryEntry& entry) {
        return entry.localID
            && std::ranges::find(m_results, *entry.localID, &DerivedSessionResult::id) == m_results.end();
    };
    if (std::ranges::any_of(entries, unpublished)) {
        auto results = co_await storedResults();
        if (!current())
            co_return;
        publish(m_results, std::move(results), &SessionViewModel::resultsChanged);
    }
    publishHistoryEntries(std::move(entries));
    const auto choice = co_await service->migrationChoice();
    if (!current())
        co_return;
    publishMigrationChoice(choice);
    auto offered = co_await service->conversationsOffered();
    if (!current())
        co_return;
    publishOffer(std::move(offered));
    const qint64 keptLocal = co_await service->conversationsKeptLocal();
    if (!current())
        co_return;
    publish(m_conversationsKeptLocal, keptLocal, &SessionViewModel::conversationsKeptLocalChanged);
}

void SessionViewModel::refreshHistory(bool refreshFromServer)
{
    start(synchronizeHistory(refreshFromServer));
}

QCoro::Task<QList<DerivedSessionResult>> SessionViewModel::storedResults()
{
    const auto alive = lifetime();
    auto results = co_await everyStoredResult();
    if (alive.expired())
        co_return QList<DerivedSessionResult> {};
    co_return shownResults(std::move(results));
}

QCoro::Task<QList<DerivedSessionResult>> SessionViewModel::everyStoredResult()
{
    const auto store = m_resultStore;
    if (!store)
        co_return QList<DerivedSessionResult> {};
    const auto alive = lifetime();
    auto listed = co_await store->list();
    if (!listed) {
        // The list is empty then, but it must not read as a computer without conversations.
        if (!alive.expired())
            reportFailure(unreadableResultsMessage(listed.error()));
        co_return QList<DerivedSessionResult> {};
    }
    co_return std::move(listed->results);
}

QString SessionViewModel::unreadableResultsMessage(const ResultStoreFailure& failure)
{
    if (std::holds_alternative<SecureStoreError>(failure))
        return QStringLiteral(
            "The conversations saved on this computer cannot be opened: their key is not available from "
            "your desktop keyring.");
    return QStringLiteral("The conversations saved on this computer could not be read.");
}

QCoro::Task<std::optional<DerivedSessionResult>> SessionViewModel::review(ConversationHistoryEntry entry)
{
    if (entry.localID) {
        for (const DerivedSessionResult& result : std::as_const(m_results)) {
            if (result.id == *entry.localID)
                co_return result;
        }
    }
    const auto service = m_backupService;
    if (!service)
        co_return std::nullopt;
    const auto alive = lifetime();
    auto reviewed = co_await service->review(entry);
    if (alive.expired())
        co_return std::nullopt;
    if (!reviewed) {
        // Only a failure to reach the account is the connection's.
        reportFailure(reviewed.error() == ConversationBackupServiceError::conversationUnreadable
                ? QStringLiteral("That conversation could not be read.")
                : QStringLiteral(
                    "That conversation could not be opened. Check your connection and try again."));
        co_return std::nullopt;
    }
    co_return std::move(*reviewed);
}

QCoro::Task<std::optional<ConversationDeletionOutcome>> SessionViewModel::remove(
    ConversationHistoryEntry entry)
{
    const auto alive = lifetime();
    if (const auto service = m_backupService) {
        auto outcome = co_await service->remove(entry);
        if (alive.expired())
            co_return std::nullopt;
        if (!outcome) {
            reportFailure(QStringLiteral(
                "That conversation could not be deleted from your account. Nothing was removed."));
            co_return std::nullopt;
        }
        auto results = co_await storedResults();
        if (alive.expired())
            co_return std::nullopt;
        publish(m_results, std::move(results), &SessionViewModel::resultsChanged);
        co_await synchronizeHistory(!outcome->isDeleted());
        co_return *outcome;
    }

    // Only on this computer.
    if (entry.localID && m_resultStore) {
        const auto store = m_resultStore;
        (void)co_await store->remove(*entry.localID);
        if (alive.expired())
            co_return std::nullopt;
    }
    QList<DerivedSessionResult> results = m_results;
    if (entry.localID)
        results.removeIf([&](const DerivedSessionResult& result) { return result.id == *entry.localID; });
    publish(m_results, std::move(results), &SessionViewModel::resultsChanged);
    QList<ConversationHistoryEntry> entries = m_historyEntries;
    entries.removeIf([&](const ConversationHistoryEntry& row) { return row.id == entry.id; });
    publishHistoryEntries(std::move(entries));
    co_return ConversationDeletionOutcome::deleted();
}

QCoro::Task<void> SessionViewModel::approveDeletion(ConversationHistoryEntry entry)
{
    const auto service = m_backupService;
    if (!service)
        co_return;
    const auto alive = lifetime();
    const auto done = co_await service->approveDeletion(entry);
    if (alive.expired())
        co_return;
    if (!done) {
        reportFailure(
            QStringLiteral("That conversation could not be deleted just now. Nothing was removed."));
        co_return;
    }
    auto results = co_await storedResults();
    if (alive.expired())
        co_return;
    publish(m_results, std::move(results), &SessionViewModel::resultsChanged);
    co_await synchronizeHistory(false);
}

QCoro::Task<void> SessionViewModel::declineDeletion(ConversationHistoryEntry entry)
{
    const auto service = m_backupService;
    if (!service)
        co_return;
    const auto alive = lifetime();
    const auto done = co_await service->declineDeletion(entry);
    if (alive.expired())
        co_return;
    if (!done) {
        reportFailure(QStringLiteral("That could not be sent just now. Please try again."));
        co_return;
    }
    co_await synchronizeHistory(true);
}

QCoro::Task<void> SessionViewModel::hide(ConversationHistoryEntry entry)
{
    const auto service = m_backupService;
    if (!service)
        co_return;
    const auto alive = lifetime();
    const auto done = co_await service->hide(entry);
    if (alive.expired())
        co_return;
    if (!done) {
        reportFailure(QStringLiteral("That conversation could not be hidden just now. Please try again."));
        co_return;
    }
    co_await synchronizeHistory(false);
}

QCoro::Task<void> SessionViewModel::unhide(ConversationHistoryEntry entry)
{
    const auto service = m_backupService;
    if (!service)
        co_return;
    const auto alive = lifetime();
    const auto done = co_await service->unhide(entry);
    if (alive.expired())
        co_return;
    if (!done) {
        reportFailure(
            QStringLiteral("That conversation could not be brought back just now. Please try again."));
        co_return;
    }
    co_await synchronizeHistory(false);
}

ConversationDeletionKind SessionViewModel::deletionKind(const ConversationHistoryEntry& entry) const
{
    if (entry.backup != ConversationBackupDisplayState::backedUp)
        return ConversationDeletionKind::immediate;
    const bool paired = m_pairing && m_pairing->workspace.paired;
    const QList<PairingPreviousWorkspace> previous
        = m_pairing ? m_pairing->previousWorkspaces : QList<PairingPreviousWorkspace> {};
    return ConversationDeletionPlan::kind(entry.workspace, paired, previous);
}

QCoro::Task<void> SessionViewModel::answerMigrationOffer(bool accepted, QList<QUuid> chosen)
{
    // The service is held for the whole answer: a sign-out meanwhile drops the view model's.
    const auto service = m_backupService;
    if (!service)
        co_return;
    const auto alive = lifetime();
    // Published first, so that the offer closes and History reads the answer at once.
    setMigrationChoice(
        accepted ? ConversationMigrationChoice::accepted : ConversationMigrationChoice::declined);
    if (accepted)
        co_await service->acceptMigration(m_environment.clock(), std::move(chosen));
    else
        co_await service->declineMigration(std::move(chosen));
    if (alive.expired())
        co_return;
    co_await synchronizeHistory(false);
}

bool SessionViewModel::needsMigrationOffer() const
{
    return isSignedIn() && !m_migrationChoice && m_conversationsAwaitingMigrationOffer > 0;
}

void SessionViewModel::recordResultReviewed()
{
    if (m_client)
        start(sendResultReviewed(m_client));
}

QCoro::Task<void> SessionViewModel::sendResultReviewed(std::shared_ptr<ControlPlaneClient> client)
{
    (void)co_await client->reportProductEvent(ProductAnalyticsEvent::resultReviewed, appVersion());
}

} // namespace lumora
