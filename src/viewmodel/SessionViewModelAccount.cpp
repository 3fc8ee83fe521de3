// The account side of the session view model: restoring the saved account at start-up,
// connecting the services, the common wrapper of account calls, the remote state, and the
// account operations (sign-out, account deletion, the recording agreement).
#include "appcore/CheckinService.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "appcore/PairingService.hpp"
#include "appcore/SessionCoordinator.hpp"
#include "domain/ConversationHistoryMerge.hpp"
#include "domain/PairingPolicy.hpp"
#include "persistence/AccountResults.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "providers/ControlPlaneBootstrap.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "providers/DeepgramClient.hpp"
#include "security/SecureKeyStore.hpp"
#include "viewmodel/PendingAccountDeletion.hpp"
#include "viewmodel/PendingRevocation.hpp"
#include "viewmodel/SeatNames.hpp"
#include "viewmodel/SessionViewModel.hpp"
#include "viewmodel/SmokeDemoResult.hpp"
#include "viewmodel/ViewModelLog.hpp"

#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QTimer>
#include <qcoro/qcorotimer.h>

namespace lumora {

namespace {

template <typename T> std::unexpected<AccountCallFailure> failed(T error)
{
    return std::unexpected(AccountCallFailure(std::move(error)));
}

// Fire and forget: the answer changes nothing.
QCoro::Task<void> reportAppOpened(std::shared_ptr<ControlPlaneClient> client, QString version)
{
    (void)co_await client->reportProductEvent(ProductAnalyticsEvent::appOpened, version);
}

QString readyText(bool agreementAccepted)
{
    return agreementAccepted ? QStringLiteral("Ready to record")
                             : QStringLiteral("Recording agreement required");
}

} // namespace

QNetworkAccessManager& SessionViewModel::network()
{
    if (!m_network)
        m_network = std::make_unique<QNetworkAccessManager>(this);
    return *m_network;
}

QCoro::Task<void> SessionViewModel::restore()
{
    const auto alive = lifetime();
    std::optional<SecureStoreError> unreadable;
    bool accountSetAside = false;
    if (m_signInPreviewMode || m_agreementPreviewMode) {
        setStatusText(QStringLiteral("Sign in to begin"));
        m_sessionRead = true;
    } else if (m_smokeMode) {
        co_await enterSmokeAccount();
        m_sessionRead = true;
    } else if (PendingAccountDeletion::stored(preferences())) {
        // An account whose deletion is not confirmed is neither used nor shown, nor replaced by
        // another, until a control plane says what became of it.
        m_sessionRead = true;
        accountSetAside = true;
    } else {
        // An account kept after all shows its seat names again.
        publish(
            m_participantNames, SeatNames::stored(preferences()), &SessionViewModel::participantNamesChanged);
        const auto sessions = m_sessionStore;
        const auto loaded = co_await sessions->load();
        if (alive.expired())
            co_return;
        // A keychain that cannot be read is no keychain without a session: recovering the device
        // now would save a second session beside one that may well be there.
        if (!loaded && std::holds_alternative<SecureStoreError>(loaded.error())) {
            unreadable = std::get<SecureStoreError>(loaded.error());
            qCWarning(startUpLog, "The saved account session could not be read.");
        } else {
            m_sessionRead = true;
            // Stored bytes that are no session count as none: the device may still be recovered.
            const std::optional<LocalAccountSession> session = loaded ? loaded->session : std::nullopt;
            const std::optional<QUuid> signedOut = PendingRevocation::stored(preferences());
            // A mark of another device than the saved session's is one that a sign-in since could
            // not forget (its run ended, or the preferences refused, once its session was saved).
            if (signedOut && session && session->deviceID != *signedOut
                && !PendingRevocation::store(preferences(), std::nullopt))
                qCWarning(accountLog, "The pending revocation of an earlier device could not be forgotten.");
            if (signedOut && (!session || session->deviceID == *signedOut)) {
                // Signed out while the revocation was not proven: this device stays signed out
                // until the control plane proves it revoked.
                if (session) {
                    if (!co_await sessions->clear())
                        qCWarning(
                            accountLog, "The saved session of a signed-out device could not be removed.");
                    if (alive.expired())
                        co_return;
                }
                co_await retryPendingRevocation();
            } else if (session) {
                connect(session->deviceID, session->accountID);
                AccountCall call = [this] { return refreshRemoteState(); };
                co_await perform(std::move(call));
            } else if (m_baseURL && m_identity) {
                AccountCall call = [this] { return recoverRegisteredDevice(); };
                co_await perform(std::move(call));
            }
            if (alive.expired())
                co_return;
        }
    }

    QList<DerivedSessionResult> results;
    // The account whose reviews are read.
    const auto reading = m_client;
    if (!accountSetAside)
        results = co_await storedResults();
    if (alive.expired())
        co_return;
    if (m_smokeMode && results.isEmpty())
        results.append(SmokeDemoResult::make(m_environment.clock()));
    // Read for an account that is no longer shown: one whose deletion was asked for meanwhile, or
    // signed out or in. What that leaves shows once it is done.
    if (reading == m_client && !PendingAccountDeletion::stored(preferences()))
        publish(m_results, std::move(results), &SessionViewModel::resultsChanged);
    co_await synchronizeHistory(true);
    if (alive.expired())
        co_return;
    co_await rescheduleCheckinReminder();
    if (alive.expired() || !unreadable)
        co_return;
    // Said last, so that it stays on screen: the sign-in button tries again.
    setErrorMessage(unreadable->status == SecureStoreError::timedOutStatus
            ? QStringLiteral("Your desktop keyring did not answer in time. Sign in to try again.")
            : QStringLiteral(
                "Your desktop keyring could not be read. Unlock it, then sign in to try again."));
}

QCoro::Task<void> SessionViewModel::enterSmokeAccount()
{
    publishAccount(AccountState { QUuid::createUuid(), QUuid::createUuid() });
    setStatusText(QStringLiteral("Start a private conversation"));
    co_return;
}

QCoro::Task<std::expected<void, AccountCallFailure>> SessionViewModel::recoverRegisteredDevice()
{
    const auto alive = lifetime();
    auto registration
        = co_await ControlPlaneBootstrap::recoverRegisteredDevice(*m_baseURL, *m_identity, network());
    if (alive.expired())
        co_return {};
    if (!registration)
        co_return failed(std::move(registration.error()));
    // The control plane does not know this key: nothing to recover, nothing to say.
    if (!*registration)
        co_return {};
    auto outcome = co_await adoptRegistration(**registration);
    co_return outcome;
}

QCoro::Task<std::expected<void, AccountCallFailure>> SessionViewModel::adoptRegistration(
    DeviceRegistration registration)
{
    const auto alive = lifetime();
    const LocalAccountSession session { registration.accountID, registration.deviceID };
    auto persisted = co_await persistAccountSession(session);
    if (alive.expired() || !persisted)
        co_return persisted;
    // Signed in again: a revocation left pending by an earlier sign-out is no longer wanted, as
    // the device may be the one just registered.
    if (!PendingRevocation::store(preferences(), std::nullopt))
        qCWarning(accountLog, "The pending revocation could not be forgotten.");
    connect(registration.deviceID, registration.accountID);
    if (!co_await showConversationsOnThisComputer())
        co_return {};
    auto outcome = co_await refreshRemoteState();
    co_return outcome;
}

QCoro::Task<std::expected<void, AccountCallFailure>> SessionViewModel::confirmRegistrationOfThisKey(
    DeviceRegistration registration)
{
    const auto alive = lifetime();
    // The control plane says which registration this key has, to a request signed with it.
    auto recovered
        = co_await ControlPlaneBootstrap::recoverRegisteredDevice(*m_baseURL, *m_identity, network());
    if (alive.expired())
        co_return {};
    if (!recovered)
        co_return failed(std::move(recovered.error()));
    if (!*recovered || **recovered != registration) {
        qCWarning(accountLog, "The sign-in registered a device that is not this computer's key; not saved.");
        co_return failed(ControlPlaneFailure(ControlPlaneError::invalidResponse()));
    }
    co_return {};
}

QCoro::Task<std::expected<void, AccountCallFailure>> SessionViewModel::persistAccountSession(
    LocalAccountSession session)
{
    // The keychain may acknowledge a write that a read does not yet return; the session is
    // only counted as saved once it reads back as written.
    constexpr int attempts = 3;
    const auto sessions = m_sessionStore;
    AccountSessionStore::Error lastError = SecureStoreError::invalidKey();
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        auto saved = co_await sessions->save(session);
        if (saved) {
            auto loaded = co_await sessions->load();
            if (loaded && loaded->session == session)
                co_return {};
            lastError = loaded ? AccountSessionStore::Error(SecureStoreError::invalidKey()) : loaded.error();
        } else {
            lastError = saved.error();
        }
        if (attempt < attempts)
            co_await QCoro::sleepFor(std::chrono::milliseconds(250 * attempt));
    }
    qCWarning(accountLog, "The account session did not read back as written.");
    co_return failed(lastError);
}

void SessionViewModel::connect(QUuid deviceID, QUuid accountID)
{
    if (!m_baseURL || !m_identity)
        return;
    auto client = std::make_shared<ControlPlaneClient>(*m_baseURL, deviceID, *m_identity, network());
    m_servicesAccountID = accountID;
    if (!m_resultStore || !m_temporaryStore || !m_marks) {
        m_client = std::move(client);
        reportFailure(QStringLiteral("Private temporary storage could not be prepared."));
        return;
    }
    // Another account may have signed in on this computer before: the services see, send and
    // delete this account's conversations alone, and mark what they record as its.
    const auto results = std::make_shared<AccountResults>(m_resultStore, accountID);
    m_coordinator = SessionCoordinator::create(client, client,
        std::make_shared<DeepgramClient>(
            network(), m_environment.info.speechServiceURL().value_or(DeepgramClient::defaultBaseURL())),
        client, client, results, *m_temporaryStore, m_marks->forAccount(accountID));
    AccountServices services;
    services.client = client;
    services.backupService = m_backupStore ? ConversationBackupService::create(
                                 client, m_resultStore, m_backupStore, m_environment.clock, accountID)
                                           : m_backupService;
    services.pairingService = PairingService::create(client, PairingPolicy::version.toString());
    services.checkinService = CheckinService::create(client);
    adoptServices(std::move(services));
}

QCoro::Task<void> SessionViewModel::perform(AccountCall operation)
{
    const auto alive = lifetime();
    publish(m_isBusy, true, &SessionViewModel::isBusyChanged);
    setErrorMessage(std::nullopt);
    auto outcome = co_await operation();
    if (alive.expired())
        co_return;
    if (!outcome) {
        const auto* refusal = std::get_if<ControlPlaneFailure>(&outcome.error());
        const auto* error = refusal ? std::get_if<ControlPlaneError>(refusal) : nullptr;
        if (error && error->status() == 401) {
            // The control plane no longer knows this device: forget the session and every
            // service that would sign with it.
            if (!co_await forgetAccountSession())
                co_return;
        }
        reportAccountFailure(outcome.error());
    }
    publish(m_isBusy, false, &SessionViewModel::isBusyChanged);
}

void SessionViewModel::reportAccountFailure(const AccountCallFailure& failure)
{
    const auto* refusal = std::get_if<ControlPlaneFailure>(&failure);
    const auto* error = refusal ? std::get_if<ControlPlaneError>(refusal) : nullptr;
    if (!error)
        reportFailure(QStringLiteral("That request could not be completed."));
    else if (error->kind() == ControlPlaneError::Kind::invalidResponse)
        reportFailure(QStringLiteral("The service returned an invalid response."));
    else if (error->status() == 401)
        reportFailure(notAuthorizedMessage());
    else if (error->code() == QStringLiteral("apple_sign_in_not_configured"))
        // The server has no identity provider to sign in with, nor the development sign-in.
        reportFailure(QStringLiteral("Sign-in is not available on this server."));
    else if (error->code() == QStringLiteral("too_many_sign_ins"))
        reportFailure(tooManySignInsMessage(error->retryAfterSeconds()));
    else
        reportFailure(QStringLiteral("That request could not be completed safely."));
}

void SessionViewModel::dropAccountServices()
{
    m_client.reset();
    m_coordinator.reset();
    m_backupService.reset();
    m_servicesAccountID.reset();
    publish(m_historyRefreshFailed, false, &SessionViewModel::historyRefreshFailedChanged);
    clearPairing();
    publishAccount(std::nullopt);
    watchForRoom();
}

QCoro::Task<std::expected<void, AccountCallFailure>> SessionViewModel::refreshRemoteState()
{
    const auto alive = lifetime();
    const auto client = m_client;
    if (!client)
        co_return {};
    // A refresh that outlives its account (a sign-out, a revoked device, another sign-in
    // meanwhile) publishes nothing more.
    const auto current = [this, &alive, &client] { return !alive.expired() && client == m_client; };
    auto account = co_await client->accountState();
    if (!current())
        co_return {};
    if (!account)
        co_return failed(std::move(account.error()));
    publishAccount(std::move(*account));

    if (!m_appOpenReportStarted) {
        m_appOpenReportStarted = true;
        start(reportAppOpened(client, appVersion()));
    }

    if (m_launchSentinel && m_launchSentinel->previousLaunchEndedUncleanly()
        && !m_uncleanTerminationReported) {
        auto reported = co_await client->reportDiagnostic(
            DiagnosticEventType::uncleanTermination, QStringLiteral("observed"));
        if (!current())
            co_return {};
        if (!reported)
            co_return failed(std::move(reported.error()));
        m_uncleanTerminationReported = true;
    }

    auto session = co_await client->currentConversationSession();
    if (!current())
        co_return {};
    if (!session)
        co_return failed(std::move(session.error()));
    publish(m_currentSession, std::optional(std::move(*session)), &SessionViewModel::currentSessionChanged);
    setStatusText(readyText(m_recordingAgreementAccepted));
    co_return {};
}

QCoro::Task<void> SessionViewModel::signOutAndRevokeThisDevice()
{
    const auto alive = lifetime();
    co_await abandonConversation();
    if (alive.expired())
        co_return;
    const auto client = m_client;
    // Marked before anything else: should the revocation not reach the control plane, no later
    // launch may reconnect or recover this device.
    if (client && !PendingRevocation::store(preferences(), client->deviceID()))
        qCWarning(accountLog, "The pending revocation could not be noted.");
    // The services stop before the revocation goes out, so that nothing else is signed with the
    // device afterwards.
    if (!co_await forgetAccountSession())
        co_return;
    m_appOpenReportStarted = false;
    publishHistoryEntries(ConversationHistoryMerge::entries(m_results, {}, {}, {}));
    setStatusText(QStringLiteral("Sign in to begin"));
    // Its switch shows only while signed in: left on, it would go on reminding with no way to
    // stop it.
    co_await turnReminderOff();
    if (alive.expired())
        co_return;
    if (client)
        co_await deliverRevocation(client);
}

QCoro::Task<void> SessionViewModel::deliverRevocation(std::shared_ptr<ControlPlaneClient> client)
{
    const auto alive = lifetime();
    const QUuid device = client->deviceID();
    const auto revoked = co_await client->revoke(device);
    if (alive.expired())
        co_return;
    if (!PendingRevocation::provesRevoked(revoked)) {
        qCWarning(accountLog,
            "The revocation of this device is not proven; it is sent again at the next launch "
            "or sign-in.");
        co_return;
    }
    if (PendingRevocation::stored(preferences()) == device
        && !PendingRevocation::store(preferences(), std::nullopt))
        qCWarning(accountLog, "The delivered revocation could not be forgotten.");
}

QCoro::Task<void> SessionViewModel::retryPendingRevocation()
{
    const std::optional<QUuid> device = PendingRevocation::stored(preferences());
    if (!device || !m_baseURL || !m_identity)
        co_return;
    co_await deliverRevocation(
        std::make_shared<ControlPlaneClient>(*m_baseURL, *device, *m_identity, network()));
}

QCoro::Task<void> SessionViewModel::deleteAccount()
{
    if (m_isBusy)
        co_return;
    const auto alive = lifetime();
    publish(m_isBusy, true, &SessionViewModel::isBusyChanged);
    setErrorMessage(std::nullopt);
    m_unansweredDeletionAsks = 0;
    co_await abandonConversation();
    if (alive.expired())
        co_return;

    using Answer = PendingAccountDeletion::Answer;
    Answer answer = Answer::gone;
    if (!m_smokeMode) {
        // Written down before the call: a run that ends once the account is gone leaves this
        // computer's part to the next launch. From then on its reminder is not scheduled.
        answer = Answer::unsent;
        const auto client = m_client;
        if (client
            && PendingAccountDeletion::store(preferences(), PendingAccountDeletion::Stage::requested)) {
            co_await rescheduleCheckinReminder();
            if (alive.expired())
                co_return;
            // Sent on a connection of its own: then a failure tells whether a connection was made
            // for it, and so whether it could have reached the control plane. (The view model's
            // manager ends its replies when the view model goes.)
            auto* own = new QNetworkAccessManager(&network());
            const ControlPlaneClient deleting = client->through(*own);
            const auto reply = co_await deleting.deleteAccount();
            if (alive.expired())
                co_return;
            own->deleteLater();
            answer = PendingAccountDeletion::answerTo(reply, PendingAccountDeletion::Attempt::first);
        }
        if (answer == Answer::kept || answer == Answer::unsent) {
            if (!PendingAccountDeletion::store(preferences(), std::nullopt))
                qCWarning(accountLog, "The account's deletion could not be forgotten.");
            co_await rescheduleCheckinReminder();
            if (alive.expired())
                co_return;
            // A launch that read the account's reviews meanwhile left them to be shown now.
            if (!co_await showConversationsOnThisComputer())
                co_return;
            reportFailure(accountNotDeletedMessage());
            publish(m_isBusy, false, &SessionViewModel::isBusyChanged);
            co_return;
        }
        if (answer == Answer::gone) {
            if (!PendingAccountDeletion::store(preferences(), PendingAccountDeletion::Stage::answered))
                qCWarning(accountLog, "The account's answer to its deletion could not be noted.");
            if (m_environment.accountDeletionAnswered) {
                co_await m_environment.accountDeletionAnswered();
                if (alive.expired())
                    co_return;
            }
        }
    }

    // A finish that went on after the give-up saves nothing more; one already saving is ahead
    // of the removal that follows, which the store runs after it.
    if (const auto coordinator = m_coordinator) {
        co_await coordinator->abandon(FinishUnderWay::discarded);
        if (alive.expired())
            co_return;
    }
    // The answer was lost: the account may be gone. It is set aside, kept here as it is, until a
    // control plane says what became of it (Stage::requested stays).
    bool wipedEverything = true;
    if (answer == Answer::gone) {
        wipedEverything = co_await wipeAccountFromThisComputer();
        if (alive.expired())
            co_return;
    } else {
        qCWarning(accountLog, "The account's answer to its deletion was lost; it is asked again later.");
        // Kept, and not shown: the seat names are the account's.
        publish(m_participantNames, SeatNames::fallbacks(), &SessionViewModel::participantNamesChanged);
    }
    dropAccountServices();
    publish(m_currentSession, std::optional<ConversationSessionState>(),
        &SessionViewModel::currentSessionChanged);
    publish(m_results, {}, &SessionViewModel::resultsChanged);
    publishHistoryEntries({});
    publishMigrationChoice(std::nullopt);
    publishOffer({});
    publish(m_conversationsKeptLocal, qint64(0), &SessionViewModel::conversationsKeptLocalChanged);
    m_appOpenReportStarted = false;
    if (answer == Answer::gone) {
        // Signed out, as after any sign-out, this computer shows what other accounts keep on it.
        if (!co_await showConversationsOnThisComputer())
            co_return;
        reportAccountDeleted(wipedEverything);
    } else {
        reportFailure(accountDeletionUnconfirmedMessage());
        scheduleDeletionRetry();
    }
    publish(m_isBusy, false, &SessionViewModel::isBusyChanged);
}

void SessionViewModel::reportAccountDeleted(bool wipedEverything)
{
    if (wipedEverything) {
        setErrorMessage(std::nullopt);
        setStatusText(accountDeletedText());
    } else {
        reportFailure(accountPartlyWipedMessage());
    }
}

QCoro::Task<bool> SessionViewModel::wipeAccountFromThisComputer()
{
    const auto alive = lifetime();
    // The account is gone on the server, so every step runs even when an earlier one failed:
    // stopping half-way would leave a signed-in state for an account that no longer exists.
    // Its conversations go, and those of other accounts that signed in here stay: the deleted
    // account is the one whose session is saved (or whose services run).
    const auto sessions = m_sessionStore;
    std::optional<QUuid> deleted = m_servicesAccountID;
    const auto saved = co_await sessions->load();
    if (saved && saved->session)
        deleted = saved->session->accountID;
    if (alive.expired())
        co_return false;
    bool wipedEverything = true;
    if (m_smokeMode || deleted)
        wipedEverything = co_await removeConversationsOf(m_smokeMode ? std::nullopt : deleted);
    if (alive.expired())
        co_return false;
    const auto cleared = co_await sessions->clear();
    if (alive.expired())
        co_return false;
    if (!cleared) {
        qCWarning(accountLog, "The saved account session could not be removed.");
        wipedEverything = false;
    } else if (const auto identityKeys = m_identityKeys) {
        // The device went with the account; its key goes too, and the next sign-in makes a new
        // one. Only once no saved session names the device: a session without its key would
        // keep every later launch from starting.
        const auto removed = co_await identityKeys->remove(DeviceIdentity::storeAccount());
        if (alive.expired())
            co_return false;
        if (removed) {
            m_identity.reset();
        } else {
            qCWarning(accountLog, "The device signing key could not be removed.");
            wipedEverything = false;
        }
    }
    if (!m_recordingAgreementStore->clear()) {
        qCWarning(accountLog, "The recording agreement could not be removed.");
        wipedEverything = false;
    }
    preferences().remove(SeatNames::preferenceKey(0));
    preferences().remove(SeatNames::preferenceKey(1));
    preferences().sync();
    if (preferences().status() != QSettings::NoError) {
        qCWarning(accountLog, "The seat names could not be removed.");
        wipedEverything = false;
    }
    publish(m_participantNames, SeatNames::fallbacks(), &SessionViewModel::participantNamesChanged);
    publish(m_recordingAgreementAccepted, false, &SessionViewModel::recordingAgreementAcceptedChanged);
    co_await turnReminderOff();
    if (alive.expired())
        co_return false;
    // Forgotten last, and whatever stayed: a later launch must never wipe what a new sign-in
    // brings.
    if (!PendingAccountDeletion::store(preferences(), std::nullopt))
        qCWarning(accountLog, "The finished deletion of the account could not be forgotten.");
    co_return wipedEverything;
}

QCoro::Task<std::optional<QString>> SessionViewModel::finishPendingAccountDeletion()
{
    const std::optional<PendingAccountDeletion::Stage> stage = PendingAccountDeletion::stored(preferences());
    if (!stage)
        co_return std::nullopt;
    const auto alive = lifetime();
    if (*stage == PendingAccountDeletion::Stage::requested) {
        // The account's answer never came: it is asked again.
        const PendingAccountDeletion::Answer answer = co_await redeliverAccountDeletion();
        if (alive.expired())
            co_return std::nullopt;
        if (answer == PendingAccountDeletion::Answer::kept) {
            qCWarning(accountLog, "The control plane kept the account whose deletion was left pending.");
            if (!PendingAccountDeletion::store(preferences(), std::nullopt))
                qCWarning(accountLog, "The account's deletion could not be forgotten.");
            co_return accountNotDeletedMessage();
        }
        if (answer != PendingAccountDeletion::Answer::gone) {
            qCInfo(accountLog, "The account's deletion is not confirmed yet; it stays pending.");
            co_return accountDeletionUnconfirmedMessage();
        }
    }
    const bool wipedEverything = co_await wipeAccountFromThisComputer();
    if (alive.expired())
        co_return std::nullopt;
    qCInfo(accountLog, "The deletion of the account that the last run left is finished on this computer.");
    reportAccountDeleted(wipedEverything);
    co_return std::nullopt;
}

QCoro::Task<PendingAccountDeletion::Answer> SessionViewModel::redeliverAccountDeletion()
{
    using Answer = PendingAccountDeletion::Answer;
    if (!m_baseURL || !m_identity)
        co_return Answer::unknown;
    const auto alive = lifetime();
    const auto sessions = m_sessionStore;
    const auto loaded = co_await sessions->load();
    if (alive.expired() || !loaded)
        co_return Answer::unknown;
    // No session names the account any more: nothing on this computer can reach it again.
    if (!loaded->session)
        co_return Answer::gone;
    const auto client
        = std::make_shared<ControlPlaneClient>(*m_baseURL, loaded->session->deviceID, *m_identity, network());
    const auto reply = co_await client->deleteAccount();
    // Whether an earlier request arrived is still not known.
    co_return PendingAccountDeletion::answerTo(reply, PendingAccountDeletion::Attempt::again);
}

QCoro::Task<void> SessionViewModel::askAgainAboutDeletion()
{
    if (!PendingAccountDeletion::stored(preferences()) || m_isBusy)
        co_return;
    const auto alive = lifetime();
    publish(m_isBusy, true, &SessionViewModel::isBusyChanged);
    const std::optional<QString> left = co_await finishPendingAccountDeletion();
    if (alive.expired())
        co_return;
    publish(m_isBusy, false, &SessionViewModel::isBusyChanged);
    if (!left) {
        // Signed out, as after any sign-out, this computer shows what other accounts keep on it.
        (void)co_await showConversationsOnThisComputer();
        co_return;
    }
    if (PendingAccountDeletion::stored(preferences())) {
        scheduleDeletionRetry();
    } else {
        co_await restore();
        if (alive.expired())
            co_return;
    }
    reportFailure(*left);
}

void SessionViewModel::scheduleDeletionRetry()
{
    if (!m_deletionRetry) {
        m_deletionRetry = new QTimer(this);
        m_deletionRetry->setSingleShot(true);
        QObject::connect(m_deletionRetry, &QTimer::timeout, this, [this] { start(askAgainAboutDeletion()); });
    }
    m_deletionRetry->start(
        PendingAccountDeletion::retryDelay(m_unansweredDeletionAsks++, m_environment.deletionRetryDelay));
}

void SessionViewModel::acceptRecordingAgreement()
{
    if (!m_agreementPreviewMode)
        (void)m_recordingAgreementStore->accept();
    publish(m_recordingAgreementAccepted, true, &SessionViewModel::recordingAgreementAcceptedChanged);
    setStatusText(isSignedIn() ? QStringLiteral("Ready to record") : QStringLiteral("Sign in to begin"));
}

void SessionViewModel::requestSignOut()
{
    start(signOutAndRevokeThisDevice());
}

void SessionViewModel::requestAccountDeletion()
{
    start(deleteAccount());
}

QCoro::Task<bool> SessionViewModel::forgetAccountSession()
{
    const auto alive = lifetime();
    dropAccountServices();
    publish(m_currentSession, std::optional<ConversationSessionState>(),
        &SessionViewModel::currentSessionChanged);
    publishOffer({});
    resetLiveState();
    publish(m_liveSummary, std::optional<QString>(), &SessionViewModel::liveSummaryChanged);
    const auto sessions = m_sessionStore;
    (void)co_await sessions->clear();
    if (alive.expired())
        co_return false;
    co_return co_await showConversationsOnThisComputer();
}

} // namespace lumora
