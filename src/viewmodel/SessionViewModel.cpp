#include "viewmodel/SessionViewModel.hpp"

#include "appcore/CheckinService.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "appcore/PairingService.hpp"
#include "appcore/SessionCoordinator.hpp"
#include "audio/NativeAudioCapture.hpp"
#include "domain/OffThread.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "providers/DeepgramLiveSession.hpp"
#include "security/AccountSessionStore.hpp"
#include "security/MemoryKeyStore.hpp"
#include "viewmodel/CheckinReminderScheduler.hpp"
#include "viewmodel/SeatNames.hpp"
#include "viewmodel/ViewModelLog.hpp"

#include <QDir>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QNetworkReply>
#include <QSettings>
#include <qcoro/qcorofuture.h>

namespace lumora {

SessionViewModel::SessionViewModel(SessionEnvironment environment, QObject* parent)
    : QObject(parent)
    , m_environment(std::move(environment))
{
    Q_ASSERT(m_environment.preferences && m_environment.keychain && m_environment.reminderScheduler);
    m_statusText = QStringLiteral("Sign in to begin");
    m_sessionStore = std::make_shared<AccountSessionStore>(m_environment.keychain());
    m_reminderScheduler = m_environment.reminderScheduler;
    // The notification is one-shot: once its minute has passed, the next week's is scheduled.
    m_reminderScheduler->setPassedHandler([this] { start(rescheduleCheckinReminder()); });

    const QStringList& arguments = m_environment.arguments;
    m_smokeMode = arguments.contains(QStringLiteral("--ui-smoke"));
    m_signInPreviewMode = arguments.contains(QStringLiteral("--ui-sign-in"));
    m_agreementPreviewMode = arguments.contains(QStringLiteral("--ui-agreement"));
    const bool anyLaunchMode = m_smokeMode || m_signInPreviewMode || m_agreementPreviewMode;

    // The seat names are the account's: one whose deletion is not finished shows none of them,
    // from the first frame on.
    m_participantNames = PendingAccountDeletion::stored(preferences()) ? SeatNames::fallbacks()
                                                                       : SeatNames::stored(preferences());
    m_checkinReminder = storedReminder(preferences());

    m_recordingAgreementStore.emplace(preferences(), RecordingAgreementStore::standardKey());
    if (m_smokeMode || m_signInPreviewMode)
        m_recordingAgreementAccepted = true;
    else if (m_agreementPreviewMode)
        m_recordingAgreementAccepted = false;
    else
        m_recordingAgreementAccepted = m_recordingAgreementStore->isAccepted();

    m_baseURL = m_environment.info.controlPlaneURL();
    m_configurationAvailable = m_baseURL.has_value() || anyLaunchMode;

    start(startUp());
}

SessionViewModel::~SessionViewModel()
{
    m_reminderScheduler->setPassedHandler({});
    // Operations still waiting end when they resume. The replies they wait for end now: deleted
    // with their manager they would never finish, and the calls waiting on them never resume.
    m_lifetime.reset();
    if (m_network) {
        for (QNetworkReply* reply : m_network->findChildren<QNetworkReply*>())
            reply->abort();
    }
}

QString SessionViewModel::reminderPermissionNote()
{
    return QStringLiteral(
        "The desktop is not allowing Corvane to send notifications. You can turn them on in "
        "your desktop's notification settings.");
}

QString SessionViewModel::noNotificationServerNote()
{
    return QStringLiteral("No notification server is running on this desktop, so Corvane cannot show the "
                          "reminder. Turn it on again once your desktop shows notifications.");
}

void SessionViewModel::start(QCoro::Task<void> operation)
{
    ++m_runningOperations;
    QCoro::connect(std::move(operation), this, [this, alive = lifetime()] {
        if (!alive.expired() && --m_runningOperations == 0)
            emit operationsSettled();
    });
}

QString SessionViewModel::keyringFailureMessage(KeyringState state)
{
    switch (state) {
    case KeyringState::locked:
        return QStringLiteral("Your desktop keyring is locked. Unlock it, then sign in to continue.");
    case KeyringState::missing:
        return QStringLiteral(
            "Your desktop keyring has not been set up. Choose its password when it asks, then sign in "
            "to continue.");
    case KeyringState::unreachable:
        return QStringLiteral(
            "No desktop keyring (Secret Service) is running. Corvane keeps its keys there; start one, "
            "then sign in to continue.");
    case KeyringState::available:
        break;
    }
    return storageFailureMessage();
}

QCoro::Task<void> SessionViewModel::startUp()
{
    const auto alive = lifetime();
    m_startUpRunning = true;
    const std::optional<QString> failure = co_await prepareLocalStorage();
    if (alive.expired())
        co_return;
    if (failure && !m_signInPreviewMode && !m_agreementPreviewMode)
        publish(m_errorMessage, failure, &SessionViewModel::errorMessageChanged);
    m_startUpFinished = true;
    emit startUpFinished();
    // Before anything of the account is shown or sent.
    std::optional<QString> deletionLeft;
    if (!failure)
        deletionLeft = co_await finishPendingAccountDeletion();
    if (alive.expired())
        co_return;
    co_await sweepExpiredRecordings();
    if (alive.expired())
        co_return;
    if (!failure) {
        co_await takeUpMarksOfLastRun();
        if (alive.expired())
            co_return;
        co_await restore();
        if (alive.expired())
            co_return;
        co_await reportConversationsCutShort();
        if (alive.expired())
            co_return;
        // Said last, so that it stays on screen.
        if (deletionLeft)
            reportFailure(*deletionLeft);
        if (PendingAccountDeletion::stored(preferences()))
            scheduleDeletionRetry();
    }
    endStartUp();
    co_await closeLeftReservations();
}

void SessionViewModel::endStartUp()
{
    m_startUpRunning = false;
    for (const QUrl& url : std::exchange(m_linksWaitingForStartUp, {}))
        handleExternalURL(url);
}

QCoro::Task<void> SessionViewModel::retryStartUp()
{
    if (m_startUpRunning || isStorageReady())
        co_return;
    const auto alive = lifetime();
    if (m_storagePrepared) {
        // Only the saved session could not be read.
        m_startUpRunning = true;
        setErrorMessage(std::nullopt);
        co_await restore();
        if (!alive.expired())
            endStartUp();
        co_return;
    }
    setErrorMessage(std::nullopt);
    co_await startUp();
}

QCoro::Task<std::optional<QString>> SessionViewModel::prepareLocalStorage()
{
    const auto alive = lifetime();
    // First, as it needs no key: a recording that a crash left behind is swept away even when
    // the keyring or the data folder fails this time.
    if (!m_temporaryStore) {
        auto temporary = TemporaryConversationStore::create(m_environment.temporaryRoot);
        if (!temporary) {
            qCWarning(startUpLog, "The temporary recording folder could not be prepared.");
            co_return storageFailureMessage();
        }
        m_temporaryStore.emplace(std::move(*temporary));
    }
    if (!m_identity) {
        const std::optional<QString> failure = co_await loadIdentity();
        if (alive.expired() || failure)
            co_return failure;
    }

    const QString support = m_environment.applicationSupport ? m_environment.applicationSupport() : QString();
    if (support.isEmpty() || !QDir().mkpath(support)) {
        qCWarning(startUpLog, "The application data folder could not be found.");
        co_return storageFailureMessage();
    }
    const QDir folder(QDir(support).filePath(QStringLiteral("Lumora")));

    if (!m_resultStore) {
        auto results = EncryptedResultStore::create(
            folder.filePath(QStringLiteral("Results")), m_environment.keychain());
        if (!results) {
            qCWarning(startUpLog, "The result store could not be prepared.");
            co_return storageFailureMessage();
        }
        m_resultStore = std::move(*results);
    }

    if (!m_backupStore) {
        auto backup = ConversationBackupStore::create(
            folder.filePath(QStringLiteral("Backup")), m_environment.keychain());
        if (!backup) {
            qCWarning(startUpLog, "The backup store could not be prepared.");
            co_return storageFailureMessage();
        }
        m_backupStore = std::move(*backup);
    }

    if (!m_marks) {
        auto marks = ConversationMarks::create(folder.filePath(QStringLiteral("Marks")));
        if (!marks) {
            qCWarning(startUpLog, "The conversations' marks could not be prepared.");
            co_return storageFailureMessage();
        }
        m_marks.emplace(std::move(*marks));
    }

    // The launch marker only serves a diagnostic report; without it the application runs on.
    // It is made once: a second attempt would find this run's own marker.
    if (!m_launchSentinelTried) {
        m_launchSentinelTried = true;
        auto sentinel = LaunchSentinel::create(folder.filePath(QStringLiteral("Diagnostics")));
        if (sentinel)
            m_launchSentinel.emplace(std::move(*sentinel));
    }

    m_storagePrepared = true;
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> SessionViewModel::loadIdentity()
{
    const auto alive = lifetime();
    const bool anyLaunchMode = m_smokeMode || m_signInPreviewMode || m_agreementPreviewMode;
    std::shared_ptr<SecureKeyStore> identityKeys;
    if (anyLaunchMode) {
        identityKeys = std::make_shared<MemoryKeyStore>();
    } else {
        identityKeys = m_environment.keychain();
        // A locked keyring, or one not made yet, answers every read with "not found": it is
        // opened first, through its own prompt, however long the person takes.
        if (m_environment.prepareKeyring) {
            std::function<void()> prompting = [this, alive] {
                if (!alive.expired())
                    setStatusText(keyringPromptMessage());
            };
            const KeyringState keyring = co_await m_environment.prepareKeyring(std::move(prompting));
            if (alive.expired())
                co_return std::nullopt;
            if (m_statusText == keyringPromptMessage())
                setStatusText(QStringLiteral("Sign in to begin"));
            if (keyring != KeyringState::available) {
                qCWarning(startUpLog, "The desktop keyring is not open.");
                co_return keyringFailureMessage(keyring);
            }
        }
    }
    auto identity = co_await DeviceIdentity::load(identityKeys);
    if (alive.expired())
        co_return std::nullopt;
    if (!identity) {
        qCWarning(startUpLog, "The device identity could not be loaded.");
        co_return storageFailureMessage();
    }
    m_identity = std::move(*identity);
    m_identityKeys = std::move(identityKeys);
    co_return std::nullopt;
}

QCoro::Task<void> SessionViewModel::sweepExpiredRecordings()
{
    if (!m_temporaryStore)
        co_return;
    // A folder tree left by a crash can be large, and the file system slow.
    const auto alive = lifetime();
    const auto sweeping = startOffThread(
        [store = *m_temporaryStore, now = m_environment.clock()] { return store.sweepExpired(now); });
    const auto swept = *co_await qCoro(sweeping).waitForFinished();
    if (!alive.expired() && swept)
        m_cutShort.append(swept->recordingsRemoved);
}

QCoro::Task<void> SessionViewModel::takeUpMarksOfLastRun()
{
    if (!m_marks)
        co_return;
    const auto alive = lifetime();
    // Earlier versions noted the reservation beside the recording, in the runtime folder: the
    // notes become marks, once.
    if (const auto store = m_temporaryStore) {
        const auto listing = startOffThread([store = *store] { return store.leftReservations(); });
        const auto left = *co_await qCoro(listing).waitForFinished();
        if (alive.expired())
            co_return;
        for (const TemporaryConversationStore::LeftReservation& note :
            left.value_or(QList<TemporaryConversationStore::LeftReservation> {})) {
            const QUuid session = QUuid::fromString(QFileInfo(note.directory).fileName());
            const ConversationMarks::Mark mark { session.isNull() ? QUuid::createUuid() : session,
                note.reservationID, ConversationMarks::State::reservationOpen };
            if (m_marks->write(mark))
                (void)store->removeSessionDirectory(note.directory);
        }
    }
    const auto marks = m_marks->list();
    for (const ConversationMarks::Mark& mark : marks.value_or(QList<ConversationMarks::Mark> {})) {
        switch (mark.state) {
        case ConversationMarks::State::recording:
            // The last run ended while this conversation was under way (a crash, a kill, a power
            // cut): told with the recordings the sweep removed, and its reservation closed.
            if (!m_cutShort.contains(mark.conversationID))
                m_cutShort.append(mark.conversationID);
            if (!m_marks->write({ mark.conversationID, mark.reservationID,
                    ConversationMarks::State::reservationOpen, mark.accountID }))
                qCWarning(startUpLog, "The mark of a conversation cut short could not be written.");
            break;
        case ConversationMarks::State::discarded:
            // Discarded by the user: never told of, and its review goes before anything can show
            // or send it; the rest goes once the account is connected.
            m_cutShort.removeAll(mark.conversationID);
            if (const auto store = m_resultStore) {
                if (!co_await store->remove(mark.conversationID))
                    qCWarning(startUpLog, "The review of a discarded conversation could not be removed.");
                if (alive.expired())
                    co_return;
            }
            break;
        case ConversationMarks::State::reservationOpen:
            break;
        }
    }
}

QCoro::Task<void> SessionViewModel::reportConversationsCutShort()
{
    const auto store = m_resultStore;
    if (!store || m_cutShort.isEmpty())
        co_return;
    const auto alive = lifetime();
    bool lost = false;
    for (const QUuid& session : std::exchange(m_cutShort, {})) {
        const auto loaded = co_await store->load(session);
        if (alive.expired())
            co_return;
        // Without a readable store nothing can be said either way.
        if (!loaded)
            continue;
        if (!loaded->result) {
            lost = true;
            continue;
        }
        // A finish cut short: the review sealed at its press stands. Normally its record went
        // pending at the press already; this covers a kill just before.
        co_await backUpFinishedConversation(*loaded->result);
        if (alive.expired())
            co_return;
    }
    if (lost) {
        qCInfo(startUpLog, "A conversation was lost when the last run ended during it; the user is told.");
        reportFailure(lostRecordingMessage());
    }
}

QCoro::Task<void> SessionViewModel::closeLeftReservations()
{
    const auto client = m_client;
    if (!client || !m_marks)
        co_return;
    const auto alive = lifetime();
    const auto marks = m_marks->list();
    for (const ConversationMarks::Mark& mark : marks.value_or(QList<ConversationMarks::Mark> {})) {
        // The conversation under way is its own, and another account's waits for that account.
        if (mark.state == ConversationMarks::State::recording
            || (m_servicesAccountID && mark.accountID && mark.accountID != m_servicesAccountID))
            continue;
        // Without an answer the mark waits for the next launch or finish.
        if (!co_await settleLeftConversation(mark))
            break;
        if (alive.expired())
            co_return;
    }
}

QCoro::Task<bool> SessionViewModel::settleLeftConversation(ConversationMarks::Mark mark)
{
    const auto alive = lifetime();
    const auto client = m_client;
    if (mark.state == ConversationMarks::State::discarded) {
        const auto service = m_backupService;
        if (!service || !client)
            co_return false;
        const bool withdrawn = co_await service->discard(mark.conversationID);
        if (alive.expired() || !withdrawn)
            co_return false;
        if (const auto store = m_resultStore) {
            const bool removed = (co_await store->remove(mark.conversationID)).has_value();
            if (alive.expired() || !removed)
                co_return false;
        }
    }
    if (!mark.reservationID.isNull()) {
        if (!client || !co_await client->cancel(mark.reservationID))
            co_return false;
        if (alive.expired())
            co_return false;
    }
    if (!m_marks || !m_marks->remove(mark.conversationID))
        co_return false;
    co_return true;
}

void SessionViewModel::chooseDiscardAtQuit()
{
    if (!isConversationRunning() && !m_audioURL)
        return;
    m_discardsAtQuit = true;
    if (!m_marks || !m_conversationID || m_smokeMode)
        return;
    // Written down before anything of it is removed: should this run end first (a kill, a power
    // cut), the next launch removes the rest and never sends it.
    const ConversationMarks::Mark mark { *m_conversationID, m_liveReservationID.value_or(QUuid()),
        ConversationMarks::State::discarded, m_servicesAccountID };
    if (!m_marks->write(mark))
        qCWarning(conversationLog, "The discard of the conversation could not be written down.");
    // Nor does this run send it, whatever its finish still does before the end.
    if (const auto service = m_backupService)
        service->withhold(*m_conversationID);
}

QCoro::Task<void> SessionViewModel::giveUpForQuit()
{
    if (!isConversationRunning() && !m_audioURL)
        co_return;
    const bool discarding = m_discardsAtQuit;
    qCInfo(conversationLog,
        discarding ? "The application ends during a conversation; it is discarded."
                   : "The application ends during a conversation; it is given up.");
    const std::optional<QUuid> conversation = m_conversationID;
    const auto alive = lifetime();
    // The live stream goes at once, and quietly: its last analysis and its usage report would be
    // sent under the reservation cancelled next, and refused.
    co_await giveUpConversation(std::nullopt, discarding ? FinishUnderWay::discarded : FinishUnderWay::kept);
    if (alive.expired() || !discarding || !conversation || !m_marks)
        co_return;
    if (const auto mark = m_marks->find(*conversation))
        (void)co_await settleLeftConversation(*mark);
}

void SessionViewModel::adoptServices(AccountServices services)
{
    m_client = std::move(services.client);
    m_backupService = std::move(services.backupService);
    m_pairingService = std::move(services.pairingService);
    m_checkinService = std::move(services.checkinService);
}

void SessionViewModel::clearPairing()
{
    m_pairingService.reset();
    publish(m_pairing, std::optional<PairingState>(), &SessionViewModel::pairingChanged);
    publish(m_pairingInvite, std::optional<PairingInvite>(), &SessionViewModel::pairingInviteChanged);
    publish(
        m_pairingRedemption, std::optional<PairingRedemption>(), &SessionViewModel::pairingRedemptionChanged);
    publish(m_pairingError, std::optional<QString>(), &SessionViewModel::pairingErrorChanged);
}

void SessionViewModel::resetLiveState()
{
    publish(m_liveTurns, {}, &SessionViewModel::liveTurnsChanged);
    publish(m_liveAnnotations, {}, &SessionViewModel::liveAnnotationsChanged);
    publish(m_liveFouls, {}, &SessionViewModel::liveFoulsChanged);
    publish(m_liveStepNote, {}, &SessionViewModel::liveStepNoteChanged);
    publish(m_liveNudges, {}, &SessionViewModel::liveNudgesChanged);
    publish(m_contextualNudges, {}, &SessionViewModel::contextualNudgesChanged);
    publish(m_nudgeLoadingSides, {}, &SessionViewModel::nudgeLoadingSidesChanged);
    publish(m_nudgeErrors, {}, &SessionViewModel::nudgeErrorsChanged);
    m_nudgeRequestIDs.clear();
    publish(m_liveCircularity, {}, &SessionViewModel::liveCircularityChanged);
    publish(m_liveStartup, {}, &SessionViewModel::liveStartupChanged);
    publish(m_sidesSwapped, false, &SessionViewModel::sidesSwappedChanged);
}

void SessionViewModel::reportFailure(const QString& sentence)
{
    publish(m_errorMessage, std::optional(sentence), &SessionViewModel::errorMessageChanged);
    publish(m_statusText, sentence, &SessionViewModel::statusTextChanged);
}

void SessionViewModel::publishAccount(std::optional<AccountState> account)
{
    const bool before = needsMigrationOffer();
    publish(m_account, std::move(account), &SessionViewModel::accountChanged);
    if (needsMigrationOffer() != before)
        emit needsMigrationOfferChanged();
}

void SessionViewModel::publishMigrationChoice(std::optional<ConversationMigrationChoice> choice)
{
    const bool before = needsMigrationOffer();
    publish(m_migrationChoice, std::move(choice), &SessionViewModel::migrationChoiceChanged);
    if (needsMigrationOffer() != before)
        emit needsMigrationOfferChanged();
}

void SessionViewModel::publishOffer(QList<ConversationHistoryEntry> offered)
{
    const bool before = needsMigrationOffer();
    publish(m_conversationsAwaitingMigrationOffer, qint64(offered.size()),
        &SessionViewModel::conversationsAwaitingMigrationOfferChanged);
    publish(m_conversationsOffered, std::move(offered), &SessionViewModel::conversationsOfferedChanged);
    if (needsMigrationOffer() != before)
        emit needsMigrationOfferChanged();
}

void SessionViewModel::publishRunningFlag(bool& field, bool value, void (SessionViewModel::*changed)())
{
    const bool before = isCheckinRunning();
    publish(field, value, changed);
    if (isCheckinRunning() != before)
        emit isCheckinRunningChanged();
}

void SessionViewModel::setMigrationChoice(std::optional<ConversationMigrationChoice> value)
{
    publishMigrationChoice(value);
}

void SessionViewModel::setPairingInvite(std::optional<PairingInvite> value)
{
    publish(m_pairingInvite, std::move(value), &SessionViewModel::pairingInviteChanged);
}

void SessionViewModel::setPairingError(std::optional<QString> value)
{
    publish(m_pairingError, std::move(value), &SessionViewModel::pairingErrorChanged);
}

void SessionViewModel::setPairingRedemption(std::optional<PairingRedemption> value)
{
    publish(m_pairingRedemption, std::move(value), &SessionViewModel::pairingRedemptionChanged);
}

void SessionViewModel::setStatusText(QString value)
{
    publish(m_statusText, std::move(value), &SessionViewModel::statusTextChanged);
}

void SessionViewModel::setErrorMessage(std::optional<QString> value)
{
    publish(m_errorMessage, std::move(value), &SessionViewModel::errorMessageChanged);
}

void SessionViewModel::setSelectedAgendaStep(int value)
{
    publish(m_selectedAgendaStep, std::move(value), &SessionViewModel::selectedAgendaStepChanged);
}

void SessionViewModel::setLiveCircularity(std::optional<CircularityEvidence> value)
{
    publish(m_liveCircularity, std::move(value), &SessionViewModel::liveCircularityChanged);
}

void SessionViewModel::setSidesSwapped(bool value)
{
    publish(m_sidesSwapped, std::move(value), &SessionViewModel::sidesSwappedChanged);
}
} // namespace lumora
