#pragma once

#include "appcore/FinishUnderWay.hpp"
#include "appcore/SessionCoordinatorError.hpp"
#include "audio/NativeAudioCaptureError.hpp"
#include "domain/BehaviorAnnotation.hpp"
#include "domain/CheckinFlow.hpp"
#include "domain/CheckinPack.hpp"
#include "domain/CheckinReminderSettings.hpp"
#include "domain/ConversationDeletionKind.hpp"
#include "domain/ConversationDeletionOutcome.hpp"
#include "domain/ConversationHistoryEntry.hpp"
#include "domain/ConversationMigrationChoice.hpp"
#include "domain/ConversationMode.hpp"
#include "domain/ConversationStartReadiness.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "domain/PairingFailure.hpp"
#include "domain/PairingInvite.hpp"
#include "domain/PairingRedemption.hpp"
#include "domain/PairingState.hpp"
#include "domain/ProcessFoulAnnotation.hpp"
#include "domain/SpeakerTurn.hpp"
#include "persistence/ConversationMarks.hpp"
#include "persistence/LaunchSentinel.hpp"
#include "persistence/RecordingAgreementStore.hpp"
#include "persistence/ResultStoreError.hpp"
#include "persistence/TemporaryConversationStore.hpp"
#include "persistence/TemporaryStoreError.hpp"
#include "providers/AccountRecords.hpp"
#include "providers/ControlPlaneFailure.hpp"
#include "security/AccountSessionStore.hpp"
#include "security/DeviceIdentity.hpp"
#include "viewmodel/PendingAccountDeletion.hpp"
#include "viewmodel/SessionEnvironment.hpp"
#include "wire/CircularityEvidence.hpp"
#include "wire/ConversationNudge.hpp"
#include "wire/HarshStartupEvidence.hpp"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <expected>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <variant>

class QTimer;

namespace lumora {

class AccountSessionStore;
class CheckinService;
class ControlPlaneClient;
class ConversationBackupService;
class ConversationBackupStore;
class EncryptedResultStore;
class PairingService;
class NativeAudioCapture;
class DeepgramLiveSession;
class RecordingTimer;
class SessionCoordinator;
struct PreparedConversation;
struct AnalysisProviderResult;

// What a conversation start can fail with: the control plane's session request, the
// coordinator's prepare, the capture, or the smoke mode's own recording file.
using ConversationStartFailure = std::variant<ControlPlaneFailure, SessionCoordinatorFailure,
    NativeAudioCaptureError, TemporaryStoreFailure>;

// Values keyed by seat (0 left, 1 right).
template <typename T> using SeatMap = QMap<int, T>;

// Why an account call failed: the control plane's answer (or the network's), or the account
// session store's error.
using AccountCallFailure = std::variant<ControlPlaneFailure, AccountSessionStore::Error>;

// The services that exist while an account is connected; built together from one
// control-plane client.
struct AccountServices {
    std::shared_ptr<ControlPlaneClient> client;
    std::shared_ptr<ConversationBackupService> backupService;
    std::shared_ptr<PairingService> pairingService;
    std::shared_ptr<CheckinService> checkinService;
};

// The one object that holds the application's state and carries out every user operation.
// It lives on the GUI thread for the life of the process. Each published value is a property
// with a change signal; each operation returns at once, runs as a coroutine on the GUI
// thread's event loop and reports through the properties. Every keychain, store and network
// call is awaited, so no operation blocks the thread.
//
// Construction is staged because the keychain answers asynchronously: the constructor sets
// what needs no keychain (state, launch modes, preferences, configuration) and then starts
// the start-up task, which loads the device identity, builds the local stores and only then
// sweeps old recordings and restores the account.
class SessionViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<AccountState> account READ account NOTIFY accountChanged)
    Q_PROPERTY(std::optional<ConversationSessionState> currentSession READ currentSession NOTIFY
            currentSessionChanged)
    Q_PROPERTY(bool recordingAgreementAccepted READ recordingAgreementAccepted NOTIFY
            recordingAgreementAcceptedChanged)
    Q_PROPERTY(QList<DerivedSessionResult> results READ results NOTIFY resultsChanged)
    Q_PROPERTY(
        QList<ConversationHistoryEntry> historyEntries READ historyEntries NOTIFY historyEntriesChanged)
    Q_PROPERTY(qint64 conversationsAwaitingMigrationOffer READ conversationsAwaitingMigrationOffer NOTIFY
            conversationsAwaitingMigrationOfferChanged)
    Q_PROPERTY(qint64 conversationsKeptLocal READ conversationsKeptLocal NOTIFY conversationsKeptLocalChanged)
    Q_PROPERTY(bool historyRefreshFailed READ historyRefreshFailed NOTIFY historyRefreshFailedChanged)
    Q_PROPERTY(std::optional<ConversationMigrationChoice> migrationChoice READ migrationChoice WRITE
            setMigrationChoice NOTIFY migrationChoiceChanged)
    Q_PROPERTY(std::optional<PairingState> pairing READ pairing NOTIFY pairingChanged)
    Q_PROPERTY(std::optional<PairingInvite> pairingInvite READ pairingInvite WRITE setPairingInvite NOTIFY
            pairingInviteChanged)
    Q_PROPERTY(std::optional<PairingRedemption> pairingRedemption READ pairingRedemption WRITE
            setPairingRedemption NOTIFY pairingRedemptionChanged)
    Q_PROPERTY(std::optional<QString> pairingError READ pairingError WRITE setPairingError NOTIFY
            pairingErrorChanged)
    Q_PROPERTY(bool isPairingBusy READ isPairingBusy NOTIFY isPairingBusyChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(bool isPaused READ isPaused NOTIFY isPausedChanged)
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(bool isStartingConversation READ isStartingConversation NOTIFY isStartingConversationChanged)
    Q_PROPERTY(double elapsed READ elapsed NOTIFY elapsedChanged)
    Q_PROPERTY(QString statusText READ statusText WRITE setStatusText NOTIFY statusTextChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage WRITE setErrorMessage NOTIFY
            errorMessageChanged)
    Q_PROPERTY(std::optional<QString> liveSummary READ liveSummary NOTIFY liveSummaryChanged)
    Q_PROPERTY(QList<SpeakerTurn> liveTurns READ liveTurns NOTIFY liveTurnsChanged)
    Q_PROPERTY(QList<BehaviorAnnotation> liveAnnotations READ liveAnnotations NOTIFY liveAnnotationsChanged)
    Q_PROPERTY(QList<ProcessFoulAnnotation> liveFouls READ liveFouls NOTIFY liveFoulsChanged)
    Q_PROPERTY(int selectedAgendaStep READ selectedAgendaStep WRITE setSelectedAgendaStep NOTIFY
            selectedAgendaStepChanged)
    Q_PROPERTY(std::optional<QString> liveStepNote READ liveStepNote NOTIFY liveStepNoteChanged)
    Q_PROPERTY(QStringList liveNudges READ liveNudges NOTIFY liveNudgesChanged)
    Q_PROPERTY(
        SeatMap<ConversationNudge> contextualNudges READ contextualNudges NOTIFY contextualNudgesChanged)
    Q_PROPERTY(QSet<int> nudgeLoadingSides READ nudgeLoadingSides NOTIFY nudgeLoadingSidesChanged)
    Q_PROPERTY(SeatMap<QString> nudgeErrors READ nudgeErrors NOTIFY nudgeErrorsChanged)
    Q_PROPERTY(std::optional<CircularityEvidence> liveCircularity READ liveCircularity WRITE
            setLiveCircularity NOTIFY liveCircularityChanged)
    Q_PROPERTY(std::optional<HarshStartupEvidence> liveStartup READ liveStartup NOTIFY liveStartupChanged)
    Q_PROPERTY(bool isAppleAuthorizationActive READ isAppleAuthorizationActive NOTIFY
            isAppleAuthorizationActiveChanged)
    Q_PROPERTY(std::optional<QUrl> appleAuthorizationPage READ appleAuthorizationPage NOTIFY
            appleAuthorizationPageChanged)
    Q_PROPERTY(std::optional<CheckinPack> checkinPack READ checkinPack NOTIFY checkinPackChanged)
    Q_PROPERTY(std::optional<CheckinFlow> checkinFlow READ checkinFlow NOTIFY checkinFlowChanged)
    Q_PROPERTY(bool isCheckinOpening READ isCheckinOpening NOTIFY isCheckinOpeningChanged)
    Q_PROPERTY(bool isCheckinFinished READ isCheckinFinished NOTIFY isCheckinFinishedChanged)
    Q_PROPERTY(CheckinReminderSettings checkinReminder READ checkinReminder NOTIFY checkinReminderChanged)
    Q_PROPERTY(std::optional<QString> reminderNote READ reminderNote NOTIFY reminderNoteChanged)
    Q_PROPERTY(QStringList participantNames READ participantNames NOTIFY participantNamesChanged)
    Q_PROPERTY(bool sidesSwapped READ sidesSwapped WRITE setSidesSwapped NOTIFY sidesSwappedChanged)
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY accountChanged)
    Q_PROPERTY(bool needsMigrationOffer READ needsMigrationOffer NOTIFY needsMigrationOfferChanged)
    Q_PROPERTY(bool isCheckinOpen READ isCheckinOpen NOTIFY checkinPackChanged)
    Q_PROPERTY(bool isCheckinRunning READ isCheckinRunning NOTIFY isCheckinRunningChanged)
    Q_PROPERTY(std::optional<QDateTime> lastCheckinAt READ lastCheckinAt NOTIFY historyEntriesChanged)
    Q_PROPERTY(bool configurationAvailable READ configurationAvailable CONSTANT)

public:
    static QString storageFailureMessage()
    {
        return QStringLiteral("Secure local storage could not be prepared.");
    }
    // What the launch after a crash or a kill during a recording says.
    static QString lostRecordingMessage()
    {
        return QStringLiteral("Corvane ended unexpectedly while a conversation was recording. That "
                              "conversation was lost, and nothing of it was kept.");
    }
    static QString accountNotDeletedMessage()
    {
        return QStringLiteral("Your account could not be deleted. Nothing was removed; please try again.");
    }
    // What is said while the control plane has not answered whether the account is gone; the run
    // asks it again meanwhile.
    static QString accountDeletionUnconfirmedMessage()
    {
        return QStringLiteral("Your account's deletion is not confirmed yet. Corvane will finish it, or try "
                              "it again, when the server answers.");
    }
    // The status once this computer's part of an account's deletion is done.
    static QString accountDeletedText() { return QStringLiteral("Account deleted"); }
    // What is said when the account is gone but this computer kept some of it.
    static QString accountPartlyWipedMessage()
    {
        return QStringLiteral(
            "Your account was deleted, but some data on this computer could not be removed.");
    }
    static QString notConnectedMessage()
    {
        return QStringLiteral("Corvane is not connected to your account right now.");
    }
    // What a start-up that could not open the desktop keyring says, by the keyring's state.
    static QString keyringFailureMessage(KeyringState state);
    // What the start-up says while the keyring's own prompt is up.
    static QString keyringPromptMessage()
    {
        return QStringLiteral("Waiting for your desktop keyring. Answer its prompt to continue.");
    }
    static QString reminderPermissionNote();
    // What the history says when the results on this computer cannot be listed.
    static QString unreadableResultsMessage(const ResultStoreFailure& failure);
    static QString noNotificationServerNote();
    static QString browserNotOpenedMessage()
    {
        return QStringLiteral(
            "Corvane could not open your browser. Copy the sign-in address and open it in a "
            "browser to continue.");
    }
    // What a sign-in start that the control plane refused for too many attempts says: when to
    // try again, in whole minutes rounded up, from the seconds the server gave.
    static QString tooManySignInsMessage(std::optional<int> retryAfterSeconds);

    explicit SessionViewModel(SessionEnvironment environment, QObject* parent = nullptr);
    ~SessionViewModel() override;

    [[nodiscard]] const std::optional<AccountState>& account() const { return m_account; }
    [[nodiscard]] const std::optional<ConversationSessionState>& currentSession() const
    {
        return m_currentSession;
    }
    [[nodiscard]] bool recordingAgreementAccepted() const { return m_recordingAgreementAccepted; }
    [[nodiscard]] const QList<DerivedSessionResult>& results() const { return m_results; }
    [[nodiscard]] const QList<ConversationHistoryEntry>& historyEntries() const { return m_historyEntries; }
    [[nodiscard]] qint64 conversationsAwaitingMigrationOffer() const
    {
        return m_conversationsAwaitingMigrationOffer;
    }
    // What the migration offer covers, as rows kept only on this computer, newest first.
    [[nodiscard]] const QList<ConversationHistoryEntry>& conversationsOffered() const
    {
        return m_conversationsOffered;
    }
    [[nodiscard]] qint64 conversationsKeptLocal() const { return m_conversationsKeptLocal; }
    // The last refresh of the account's list failed: the history shows what was read before.
    [[nodiscard]] bool historyRefreshFailed() const { return m_historyRefreshFailed; }
    [[nodiscard]] const std::optional<ConversationMigrationChoice>& migrationChoice() const
    {
        return m_migrationChoice;
    }
    [[nodiscard]] const std::optional<PairingState>& pairing() const { return m_pairing; }
    [[nodiscard]] const std::optional<PairingInvite>& pairingInvite() const { return m_pairingInvite; }
    [[nodiscard]] const std::optional<PairingRedemption>& pairingRedemption() const
    {
        return m_pairingRedemption;
    }
    [[nodiscard]] const std::optional<QString>& pairingError() const { return m_pairingError; }
    [[nodiscard]] bool isPairingBusy() const { return m_isPairingBusy; }
    [[nodiscard]] bool isBusy() const { return m_isBusy; }
    [[nodiscard]] bool isRecording() const { return m_isRecording; }
    [[nodiscard]] bool isPaused() const { return m_isPaused; }
    [[nodiscard]] bool isProcessing() const { return m_isProcessing; }
    [[nodiscard]] bool isStartingConversation() const { return m_isStartingConversation; }
    [[nodiscard]] double elapsed() const { return m_elapsed; }
    [[nodiscard]] const QString& statusText() const { return m_statusText; }
    [[nodiscard]] const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    [[nodiscard]] const std::optional<QString>& liveSummary() const { return m_liveSummary; }
    [[nodiscard]] const QList<SpeakerTurn>& liveTurns() const { return m_liveTurns; }
    [[nodiscard]] const QList<BehaviorAnnotation>& liveAnnotations() const { return m_liveAnnotations; }
    [[nodiscard]] const QList<ProcessFoulAnnotation>& liveFouls() const { return m_liveFouls; }
    [[nodiscard]] int selectedAgendaStep() const { return m_selectedAgendaStep; }
    [[nodiscard]] const std::optional<QString>& liveStepNote() const { return m_liveStepNote; }
    [[nodiscard]] const QStringList& liveNudges() const { return m_liveNudges; }
    [[nodiscard]] const SeatMap<ConversationNudge>& contextualNudges() const { return m_contextualNudges; }
    [[nodiscard]] const QSet<int>& nudgeLoadingSides() const { return m_nudgeLoadingSides; }
    [[nodiscard]] const SeatMap<QString>& nudgeErrors() const { return m_nudgeErrors; }
    [[nodiscard]] const std::optional<CircularityEvidence>& liveCircularity() const
    {
        return m_liveCircularity;
    }
    [[nodiscard]] const std::optional<HarshStartupEvidence>& liveStartup() const { return m_liveStartup; }
    [[nodiscard]] bool isAppleAuthorizationActive() const { return m_isAppleAuthorizationActive; }
    // The sign-in page the browser could not be made to show, for the user to open by hand;
    // none once a sign-in returns or a new attempt starts.
    [[nodiscard]] const std::optional<QUrl>& appleAuthorizationPage() const
    {
        return m_appleAuthorizationPage;
    }
    [[nodiscard]] const std::optional<CheckinPack>& checkinPack() const { return m_checkinPack; }
    [[nodiscard]] const std::optional<CheckinFlow>& checkinFlow() const { return m_checkinFlow; }
    [[nodiscard]] bool isCheckinOpening() const { return m_isCheckinOpening; }
    [[nodiscard]] bool isCheckinFinished() const { return m_isCheckinFinished; }
    [[nodiscard]] const CheckinReminderSettings& checkinReminder() const { return m_checkinReminder; }
    [[nodiscard]] const std::optional<QString>& reminderNote() const { return m_reminderNote; }
    [[nodiscard]] const QStringList& participantNames() const { return m_participantNames; }
    [[nodiscard]] bool sidesSwapped() const { return m_sidesSwapped; }

    [[nodiscard]] bool isSignedIn() const { return m_account.has_value(); }
    [[nodiscard]] bool configurationAvailable() const { return m_configurationAvailable; }
    [[nodiscard]] bool smokeMode() const { return m_smokeMode; }
    [[nodiscard]] bool signInPreviewMode() const { return m_signInPreviewMode; }
    [[nodiscard]] bool agreementPreviewMode() const { return m_agreementPreviewMode; }
    [[nodiscard]] const std::optional<QUrl>& baseURL() const { return m_baseURL; }
    [[nodiscard]] const std::optional<DeviceIdentity>& identity() const { return m_identity; }
    [[nodiscard]] const std::shared_ptr<EncryptedResultStore>& resultStore() const { return m_resultStore; }
    [[nodiscard]] const std::shared_ptr<ConversationBackupStore>& backupStore() const
    {
        return m_backupStore;
    }
    [[nodiscard]] const std::optional<TemporaryConversationStore>& temporaryStore() const
    {
        return m_temporaryStore;
    }
    [[nodiscard]] const std::optional<LaunchSentinel>& launchSentinel() const { return m_launchSentinel; }
    [[nodiscard]] const std::optional<ConversationMarks>& marks() const { return m_marks; }
    [[nodiscard]] const std::shared_ptr<ConversationBackupService>& backupService() const
    {
        return m_backupService;
    }
    [[nodiscard]] ConversationMode sessionMode() const { return m_sessionMode; }
    // Short version "+" build, from the Info resource.
    [[nodiscard]] QString appVersion() const { return m_environment.info.appVersion(); }
    [[nodiscard]] const InfoResource& info() const { return m_environment.info; }
    // Whether the start-up task has finished preparing the stores (successfully or not).
    [[nodiscard]] bool isStartUpFinished() const { return m_startUpFinished; }
    // Whether the stores are prepared and the saved account session was read; until then a
    // sign-in tries the start-up again.
    [[nodiscard]] bool isStorageReady() const { return m_storagePrepared && m_sessionRead; }
    // Operations started through the invokable entry points and not finished yet.
    [[nodiscard]] int runningOperations() const { return m_runningOperations; }

    void setMigrationChoice(std::optional<ConversationMigrationChoice> value);
    void setPairingInvite(std::optional<PairingInvite> value);
    void setPairingRedemption(std::optional<PairingRedemption> value);
    void setPairingError(std::optional<QString> value);
    void setStatusText(QString value);
    void setErrorMessage(std::optional<QString> value);
    void setSelectedAgendaStep(int value);
    void setLiveCircularity(std::optional<CircularityEvidence> value);
    void setSidesSwapped(bool value);

    // The reminder settings stored in `preferences`; the standard settings when the entry is
    // missing, not data, or not a complete settings object.
    static CheckinReminderSettings storedReminder(const QSettings& preferences);
    // Writes the settings as JSON data; nothing is reported.
    static void storeReminder(QSettings& preferences, const CheckinReminderSettings& settings);

    // Takes the services of a connected account, replacing those of an earlier connection.
    void adoptServices(AccountServices services);
    // Drops the pairing service and every published pairing value; a step in flight finishes
    // but publishes nothing more.
    void clearPairing();

    // History. `synchronizeHistory` rebuilds the published history from the backup service,
    // or from the local results alone without one; it never fails.
    QCoro::Task<void> synchronizeHistory(bool refreshFromServer);
    QCoro::Task<std::optional<DerivedSessionResult>> review(ConversationHistoryEntry entry);
    QCoro::Task<std::optional<ConversationDeletionOutcome>> remove(ConversationHistoryEntry entry);
    QCoro::Task<void> approveDeletion(ConversationHistoryEntry entry);
    QCoro::Task<void> declineDeletion(ConversationHistoryEntry entry);
    QCoro::Task<void> hide(ConversationHistoryEntry entry);
    QCoro::Task<void> unhide(ConversationHistoryEntry entry);
    [[nodiscard]] ConversationDeletionKind deletionKind(const ConversationHistoryEntry& entry) const;
    [[nodiscard]] bool needsMigrationOffer() const;
    // The answer to the migration offer for the conversations of it the user chose (by local id):
    // the choice is published at once, then the backup service records it and the history is
    // published again. Without a connected account nothing is recorded.
    QCoro::Task<void> answerMigrationOffer(bool accepted, QList<QUuid> chosen);

    // Pairing. Each step runs alone (`isPairingBusy`), ends as at most one `pairingError`
    // sentence and re-reads the pairing state afterwards.
    QCoro::Task<void> refreshPairingState();
    QCoro::Task<void> createPairingInvite();
    QCoro::Task<void> redeemPairingCode(QString code);
    QCoro::Task<void> unlinkPartner();
    QCoro::Task<void> confirmPairing();

    // Check-in, reminder and seat names.
    QCoro::Task<void> openCheckin();
    QCoro::Task<void> setCheckinReminder(CheckinReminderSettings settings);
    QCoro::Task<void> rescheduleCheckinReminder();
    // Off, stored off and nothing pending; the day and time stay as chosen.
    QCoro::Task<void> turnReminderOff();
    [[nodiscard]] bool isCheckinOpen() const { return m_checkinPack.has_value(); }
    [[nodiscard]] bool isCheckinRunning() const;
    [[nodiscard]] std::optional<QDateTime> lastCheckinAt() const;

    // The entry points of the views: each starts its operation and returns at once.
    Q_INVOKABLE void refreshHistory(bool refreshFromServer);
    Q_INVOKABLE void recordResultReviewed();
    Q_INVOKABLE void requestPairingState();
    Q_INVOKABLE void requestPairingInvite();
    Q_INVOKABLE void requestPairingRedemption(const QString& code);
    Q_INVOKABLE void requestUnlink();
    Q_INVOKABLE void requestPairingConfirmation();
    Q_INVOKABLE void requestCheckin();
    Q_INVOKABLE void closeCheckin();
    Q_INVOKABLE void goBackCheckinSection();
    Q_INVOKABLE void advanceCheckinSection();
    Q_INVOKABLE void changeCheckinReminder(bool isOn, int weekday, int hour, int minute);
    Q_INVOKABLE QString participantName(qint64 speaker) const;
    Q_INVOKABLE void updateParticipantName(int side, const QString& name);

    // Conversation: start, finish, pause and live coaching. A conversation runs from
    // `toggleRecording` through the live callbacks and the one-second clock to the sealed,
    // backed-up review; every way out of a start or finish leaves no recording behind.
    [[nodiscard]] ConversationStartReadiness startReadiness() const;
    // Starts a conversation, or finishes the one that records or is paused. Never fails: the
    // outcome shows in the published state.
    QCoro::Task<void> toggleRecording();
    QCoro::Task<void> finishConversation();
    void togglePause();
    [[nodiscard]] std::optional<QString> liveNudge(qsizetype index) const;
    QCoro::Task<void> requestContextualNudge(qint64 speaker);
    // Stops the capture and the live stream and gives the conversation up (its reservation is
    // cancelled, its folder removed); for sign-out and account deletion during a conversation.
    QCoro::Task<void> abandonConversation();
    // The user chose to discard the conversation under way as the application ends. Written down
    // at once (a `discarded` mark), so that the end of the run, or the next launch should the run
    // end first, removes everything of it: its review, its backup record, its reservation.
    void chooseDiscardAtQuit();
    // The application is about to end: a conversation that starts, records, is paused or is
    // being processed is given up, its live stream at once and quietly. The capture stops and
    // its folder is removed before anything is awaited, so that a caller that cannot wait long
    // (a quit) loses only the last of it. A finish under way goes on (its review stays and is
    // sent at the next launch) unless the user discarded the conversation.
    QCoro::Task<void> giveUpForQuit();
    // The coordinator of the connected account.
    void adoptCoordinator(std::shared_ptr<SessionCoordinator> coordinator);
    // Re-reads the account state from the control plane; false when it could not be read.
    QCoro::Task<bool> refreshAfterConversation();
    // The recording clock's work, as one tick of the timer does it.
    QCoro::Task<void> recordingClockTick();
    // The short code of a failed start for the log, and the sentence the user reads.
    static QString startFailureDiagnostic(const ConversationStartFailure& failure);
    static QString conversationStartFailureMessage(const ConversationStartFailure& failure);
    [[nodiscard]] const std::optional<QUuid>& liveReservationID() const { return m_liveReservationID; }
    [[nodiscard]] const std::optional<QUrl>& audioURL() const { return m_audioURL; }
    [[nodiscard]] double recordingMaximumSeconds() const { return m_recordingMaximumSeconds; }
    [[nodiscard]] double totalPaused() const { return m_totalPaused; }
    [[nodiscard]] bool hasLiveSession() const { return m_liveSession != nullptr; }
    [[nodiscard]] bool isRecordingClockRunning() const { return m_recordingTimer != nullptr; }
    Q_INVOKABLE void requestToggleRecording();
    Q_INVOKABLE void requestFinishConversation();
    Q_INVOKABLE void requestTogglePause() { togglePause(); }
    Q_INVOKABLE void requestContextualNudgeFor(int speaker);
    // Account: restore, connection, browser sign-in and account operations.
    static QString notAuthorizedMessage()
    {
        return QStringLiteral("This device is no longer authorized. Sign in again.");
    }
    [[nodiscard]] const std::shared_ptr<ControlPlaneClient>& client() const { return m_client; }
    [[nodiscard]] const std::shared_ptr<SessionCoordinator>& coordinator() const { return m_coordinator; }
    [[nodiscard]] const std::shared_ptr<PairingService>& pairingService() const { return m_pairingService; }
    [[nodiscard]] const std::shared_ptr<CheckinService>& checkinService() const { return m_checkinService; }
    // Builds the control-plane client for `deviceID` and every service that talks to the server,
    // for the conversations of `accountID` alone.
    void connect(QUuid deviceID, QUuid accountID);
    // Fetches the account and the current session; the failure goes to the caller.
    [[nodiscard]] QCoro::Task<std::expected<void, AccountCallFailure>> refreshRemoteState();
    QCoro::Task<void> beginAppleAuthorization();
    QCoro::Task<void> signOutAndRevokeThisDevice();
    QCoro::Task<void> deleteAccount();
    Q_INVOKABLE void requestSignIn();
    Q_INVOKABLE void cancelAppleAuthorization();
    // The desktop's hand-over of a URL opened with this application; returns at once.
    Q_INVOKABLE void handleExternalURL(const QUrl& url);
    // Opens a web page in the desktop's browser, as the sign-in does; false when no browser
    // could show it.
    QCoro::Task<bool> openInBrowser(QUrl page);
    Q_INVOKABLE void requestSignOut();
    Q_INVOKABLE void requestAccountDeletion();
    Q_INVOKABLE void acceptRecordingAgreement();

signals:
    void accountChanged();
    void currentSessionChanged();
    void recordingAgreementAcceptedChanged();
    void resultsChanged();
    void historyEntriesChanged();
    void conversationsAwaitingMigrationOfferChanged();
    void conversationsOfferedChanged();
    void conversationsKeptLocalChanged();
    void historyRefreshFailedChanged();
    void migrationChoiceChanged();
    void pairingChanged();
    void pairingInviteChanged();
    void pairingRedemptionChanged();
    void pairingErrorChanged();
    void isPairingBusyChanged();
    void isBusyChanged();
    void isRecordingChanged();
    void isPausedChanged();
    void isProcessingChanged();
    void isStartingConversationChanged();
    void elapsedChanged();
    void statusTextChanged();
    void errorMessageChanged();
    void liveSummaryChanged();
    void liveTurnsChanged();
    void liveAnnotationsChanged();
    void liveFoulsChanged();
    void selectedAgendaStepChanged();
    void liveStepNoteChanged();
    void liveNudgesChanged();
    void contextualNudgesChanged();
    void nudgeLoadingSidesChanged();
    void nudgeErrorsChanged();
    void liveCircularityChanged();
    void liveStartupChanged();
    void isAppleAuthorizationActiveChanged();
    void appleAuthorizationPageChanged();
    void checkinPackChanged();
    void checkinFlowChanged();
    void isCheckinOpeningChanged();
    void isCheckinFinishedChanged();
    void checkinReminderChanged();
    void reminderNoteChanged();
    void participantNamesChanged();
    void sidesSwappedChanged();
    void needsMigrationOfferChanged();
    void isCheckinRunningChanged();
    // The start-up task has prepared the stores, or found that it cannot.
    void startUpFinished();
    // The last running operation started through an entry point has ended.
    void operationsSettled();
    // A conversation's finish is over, saved or not: its results are published, and what it
    // held while recording and finishing is let go.
    void conversationFinished();

private:
    enum class PairingStep { invite, redeem, confirm, unlink };

    template <typename T> void publish(T& field, T value, void (SessionViewModel::*changed)())
    {
        if (field == value)
            return;
        field = std::move(value);
        emit(this->*changed)();
    }
    void publishAccount(std::optional<AccountState> account);
    void publishHistoryEntries(QList<ConversationHistoryEntry> entries);
    // Room made on another computer of the account shows only in the account's list: while a
    // conversation of the connected account waits for room, the list is read again every
    // `roomCheckInterval`, whichever page shows.
    void watchForRoom();
    void publishMigrationChoice(std::optional<ConversationMigrationChoice> choice);
    // The conversations offered and their count.
    void publishOffer(QList<ConversationHistoryEntry> offered);
    void publishRunningFlag(bool& field, bool value, void (SessionViewModel::*changed)());
    // Sets `errorMessage` and `statusText` to one sentence.
    void reportFailure(const QString& sentence);

    // Runs an operation to its end without the caller waiting.
    void start(QCoro::Task<void> operation);
    // Held weakly by each operation, which ends at its next resumption once this has expired:
    // the view model may be closed while a network reply, a keychain job or a timer is pending.
    [[nodiscard]] std::weak_ptr<const bool> lifetime() const { return m_lifetime; }
    QCoro::Task<void> startUp();
    // The start-up has ended, however it went: the links that waited for it are taken.
    void endStartUp();
    // The start-up again, for a user action after it failed (a keyring that was locked, say);
    // what it has already built stays. Nothing when it runs already or has succeeded.
    QCoro::Task<void> retryStartUp();
    // Desktop keyring, device identity, data folder and stores, in that order; the sentence
    // of the first failure, nothing on success. What was built before a failure is kept.
    QCoro::Task<std::optional<QString>> prepareLocalStorage();
    // Reads this computer's device key, or makes one when there is none and no saved session
    // names a device; the failure's text otherwise.
    QCoro::Task<std::optional<QString>> loadIdentity();
    // Restores the saved account session and connects it; runs after the sweep.
    QCoro::Task<void> restore();
    // Removes the recordings that no running conversation holds, away from this thread, and
    // notes whose they were.
    QCoro::Task<void> sweepExpiredRecordings();
    // What the marks of the last run say, before the account is restored: a conversation under
    // way when it ended was cut short (its mark then only keeps its reservation), and a
    // discarded one loses its review. The reservation notes of earlier versions become marks.
    QCoro::Task<void> takeUpMarksOfLastRun();
    // Tells, once, of a conversation cut short (its recording swept, or its mark left) of which
    // nothing was kept; one whose finish was cut short keeps its review, which goes to the
    // account.
    QCoro::Task<void> reportConversationsCutShort();
    // Settles the marks of conversations that are over, each once the control plane has answered:
    // their reservations are closed, and what discarded ones left is removed.
    QCoro::Task<void> closeLeftReservations();
    // Settles one such mark and removes it; false when something waits for a later attempt. A
    // discarded conversation's backup record goes (the account's copy too, should an upload have
    // reached it), then its review, then its reservation.
    QCoro::Task<bool> settleLeftConversation(ConversationMarks::Mark mark);
    void resetLiveState();
    // The reviews shown: those of the connected account, every one while none is connected.
    QCoro::Task<QList<DerivedSessionResult>> storedResults();
    // Every review on this computer, whoever's; a failure to read them is told.
    QCoro::Task<QList<DerivedSessionResult>> everyStoredResult();
    [[nodiscard]] QList<DerivedSessionResult> shownResults(QList<DerivedSessionResult> results) const;
    // Publishes the reviews and the history rows of this computer that may show now (see
    // `storedResults`), before anything is asked of the account; false when the view model went
    // away meanwhile.
    [[nodiscard]] QCoro::Task<bool> showConversationsOnThisComputer();
    // The deleted account's part of the wipe: its reviews (those its list proves its own among the
    // ones whose account is not known too), backup records, lists and marks (all of them when
    // `accountID` is absent, as in smoke mode); another account's stay. False when something of it
    // stayed.
    [[nodiscard]] QCoro::Task<bool> removeConversationsOf(std::optional<QUuid> accountID);
    QCoro::Task<void> performPairing(PairingStep step, QString code, QUuid inviteID);
    [[nodiscard]] QCoro::Task<std::expected<void, PairingFailure>> runPairingStep(
        std::shared_ptr<PairingService> service, PairingStep step, QString code, QUuid inviteID);
    QCoro::Task<void> sendResultReviewed(std::shared_ptr<ControlPlaneClient> client);
    QSettings& preferences() const { return *m_environment.preferences; }

    // Conversation engine.
    // The start, in its steps: the microphone, the session and its reservation, the live stream
    // and the capture. A step that fails says so (the later ones give up what the earlier ones
    // took) and answers false or nothing; the starting flag is cleared once the start ends.
    QCoro::Task<void> beginConversation();
    QCoro::Task<bool> microphonePermitted();
    QCoro::Task<std::optional<PreparedConversation>> reserveConversation();
    QCoro::Task<bool> startLiveSession(PreparedConversation prepared);
    QCoro::Task<bool> startCapture(QUrl audioURL, double maximumSeconds);
    QCoro::Task<void> beginSmokeConversation();
    QCoro::Task<void> failStart(ConversationStartFailure failure);
    void enterRecording(const QUrl& audioURL, double maximumSeconds);
    void startRecordingClock();
    // Gives the conversation up wherever it stands (starting, recording, paused or being
    // finished): the capture stops and its recording goes before anything is awaited; the live
    // stream ends, reporting `streamedSeconds`, or at once and quietly without them (the
    // application ends); the coordinator cancels the reservation, and `finishing` says what
    // becomes of a finish under way.
    QCoro::Task<void> giveUpConversation(std::optional<qint64> streamedSeconds, FinishUnderWay finishing);
    // What the seal at the press of Finish came to: the sealed review's id; none when nothing
    // was sealed (no coordinator, a give-up meanwhile); the store's failure when the review could
    // not be written.
    struct PressSeal {
        std::optional<QUuid> reviewID;
        std::optional<ResultStoreFailure> failure;
    };
    // Seals the review made of what was heard live.
    QCoro::Task<PressSeal> sealProvisionalReview();
    // A review that could not be written at the press: the conversation stays, paused since the
    // press, with its recording and live turns, and the room says why.
    void keepUnsealedConversation(const ResultStoreFailure& failure, const QDateTime& pressedAt);
    QCoro::Task<void> finishWithCoordinator(QUrl audioURL);
    QCoro::Task<void> finishSmokeConversation(QUrl audioURL);
    QCoro::Task<void> recoverFinish(QUrl audioURL);
    QCoro::Task<void> backUpFinishedConversation(DerivedSessionResult result);
    QCoro::Task<void> finishCheckinIfRunning();
    QCoro::Task<void> stopLiveSession(qint64 durationSeconds);
    void stopRecordingClock();
    void removeRecordingFolder(const QUrl& audioURL);
    void handleLiveTurn(const SpeakerTurn& turn);
    void handleLiveInsight(const AnalysisProviderResult& result);
    void handleCaptureEnded(bool successfully);
    NativeAudioCapture& audioCapture();

    std::shared_ptr<NativeAudioCapture> m_audioCapture;
    // The live stream of the running conversation.
    std::shared_ptr<DeepgramLiveSession> m_liveSession;
    std::shared_ptr<RecordingTimer> m_recordingTimer;
    // Account: restore, connection, browser sign-in and account operations.
    using AccountCall = std::function<QCoro::Task<std::expected<void, AccountCallFailure>>()>;
    QCoro::Task<void> enterSmokeAccount();
    QCoro::Task<void> perform(AccountCall operation);
    void reportAccountFailure(const AccountCallFailure& failure);
    [[nodiscard]] QCoro::Task<std::expected<void, AccountCallFailure>> persistAccountSession(
        LocalAccountSession session);
    [[nodiscard]] QCoro::Task<std::expected<void, AccountCallFailure>> recoverRegisteredDevice();
    // Saves, connects and refreshes the account that the control plane registered.
    [[nodiscard]] QCoro::Task<std::expected<void, AccountCallFailure>> adoptRegistration(
        DeviceRegistration registration);
    void dropAccountServices();
    // Whether an account is connected: signed in, or a saved session whose services are built
    // while the account could not be read.
    [[nodiscard]] bool hasConnectedAccount() const { return m_account || m_client; }
    [[nodiscard]] bool isConversationRunning() const
    {
        return m_isRecording || m_isPaused || m_isStartingConversation || m_isProcessing;
    }
    // Drops the services that would sign with the saved session, with everything they
    // published, and then clears the saved session; false when the view model went away
    // meanwhile.
    [[nodiscard]] QCoro::Task<bool> forgetAccountSession();
    // Sends the revocation of `client`'s device; once the control plane has it (or no longer
    // knows the device), the pending-revocation mark of that device is removed.
    QCoro::Task<void> deliverRevocation(std::shared_ptr<ControlPlaneClient> client);
    // Delivers the revocation that a sign-out left pending, if any.
    QCoro::Task<void> retryPendingRevocation();
    // This computer's part of an account's deletion: the sealed reviews, the backup state and
    // the conversations' marks, the saved session and the device key, the recording agreement,
    // the seat names and the reminder; the pending deletion is forgotten last. Every step runs
    // even when an earlier one failed; false when something stayed.
    [[nodiscard]] QCoro::Task<bool> wipeAccountFromThisComputer();
    // "Account deleted", in place of what was said while the deletion was pending, or that some
    // of this computer's data stayed.
    void reportAccountDeleted(bool wipedEverything);
    // Finishes a deletion left pending: this computer's part once the account is known to be
    // gone (asked again when its answer never came). Otherwise what the user is to be told: the
    // account is still there, nothing removed and the deletion forgotten; or the answer is still
    // missing, and the deletion stays pending.
    [[nodiscard]] QCoro::Task<std::optional<QString>> finishPendingAccountDeletion();
    // Sends the account's deletion again with the saved session; what became of the account.
    [[nodiscard]] QCoro::Task<PendingAccountDeletion::Answer> redeliverAccountDeletion();
    // Asks the control plane again about a deletion left pending, while the program runs, and
    // says what became of it: gone, this computer's part is done and what other accounts keep
    // here shows; kept, the account is used again; still unknown, it is asked again later. One
    // ask at a time.
    QCoro::Task<void> askAgainAboutDeletion();
    // The next ask, after a pause that grows with each unanswered one.
    void scheduleDeletionRetry();
    // Whether `registration` is the one the control plane keeps for this device's key.
    [[nodiscard]] QCoro::Task<std::expected<void, AccountCallFailure>> confirmRegistrationOfThisKey(
        DeviceRegistration registration);
    [[nodiscard]] QCoro::Task<std::expected<void, AccountCallFailure>> openAuthorizationPage();
    void startAppleAuthorizationInBrowser(const QUrl& url, const QString& state);
    QCoro::Task<void> watchBrowserOpening(QUuid attempt, QUrl page);
    void cancelAppleAuthorization(const std::optional<QString>& message);
    void endAppleAuthorizationAttempt();
    QCoro::Task<void> finishAppleAuthorization(QUrl callbackURL, QString state);
    [[nodiscard]] QCoro::Task<std::expected<void, AccountCallFailure>> completeAppleAuthorization(
        QString ticket, QString state);
    QNetworkAccessManager& network();

    SessionEnvironment m_environment;

    std::optional<AccountState> m_account;
    std::optional<ConversationSessionState> m_currentSession;
    bool m_recordingAgreementAccepted = false;
    QList<DerivedSessionResult> m_results;
    QList<ConversationHistoryEntry> m_historyEntries;
    qint64 m_conversationsAwaitingMigrationOffer = 0;
    QList<ConversationHistoryEntry> m_conversationsOffered;
    qint64 m_conversationsKeptLocal = 0;
    bool m_historyRefreshFailed = false;
    std::optional<ConversationMigrationChoice> m_migrationChoice;
    std::optional<PairingState> m_pairing;
    std::optional<PairingInvite> m_pairingInvite;
    std::optional<PairingRedemption> m_pairingRedemption;
    std::optional<QString> m_pairingError;
    bool m_isPairingBusy = false;
    bool m_isBusy = false;
    bool m_isRecording = false;
    bool m_isPaused = false;
    bool m_isProcessing = false;
    bool m_isStartingConversation = false;
    double m_elapsed = 0;
    QString m_statusText;
    std::optional<QString> m_errorMessage;
    std::optional<QString> m_liveSummary;
    QList<SpeakerTurn> m_liveTurns;
    QList<BehaviorAnnotation> m_liveAnnotations;
    QList<ProcessFoulAnnotation> m_liveFouls;
    int m_selectedAgendaStep = 0;
    std::optional<QString> m_liveStepNote;
    QStringList m_liveNudges;
    SeatMap<ConversationNudge> m_contextualNudges;
    QSet<int> m_nudgeLoadingSides;
    SeatMap<QString> m_nudgeErrors;
    std::optional<CircularityEvidence> m_liveCircularity;
    std::optional<HarshStartupEvidence> m_liveStartup;
    bool m_isAppleAuthorizationActive = false;
    std::optional<QUrl> m_appleAuthorizationPage;
    std::optional<CheckinPack> m_checkinPack;
    std::optional<CheckinFlow> m_checkinFlow;
    bool m_isCheckinOpening = false;
    bool m_isCheckinFinished = false;
    CheckinReminderSettings m_checkinReminder;
    std::optional<QString> m_reminderNote;
    // Counts the calls of setCheckinReminder, so that one overtaken while it waited for the
    // permission answer leaves the settings to the user's later choice.
    quint64 m_reminderRequests = 0;
    QStringList m_participantNames;
    bool m_sidesSwapped = false;

    bool m_smokeMode = false;
    bool m_signInPreviewMode = false;
    bool m_agreementPreviewMode = false;
    bool m_configurationAvailable = false;
    std::optional<RecordingAgreementStore> m_recordingAgreementStore;
    std::shared_ptr<AccountSessionStore> m_sessionStore;
    std::optional<DeviceIdentity> m_identity;
    // Where the device key lives: the keychain, or memory in the launch modes.
    std::shared_ptr<SecureKeyStore> m_identityKeys;
    std::optional<QUrl> m_baseURL;
    std::shared_ptr<ControlPlaneClient> m_client;
    std::shared_ptr<EncryptedResultStore> m_resultStore;
    std::optional<TemporaryConversationStore> m_temporaryStore;
    std::shared_ptr<ConversationBackupStore> m_backupStore;
    std::optional<ConversationMarks> m_marks;
    std::shared_ptr<ConversationBackupService> m_backupService;
    // The account whose conversations the connected services work on.
    std::optional<QUuid> m_servicesAccountID;
    std::shared_ptr<PairingService> m_pairingService;
    std::shared_ptr<CheckinService> m_checkinService;
    std::shared_ptr<CheckinReminderScheduler> m_reminderScheduler;
    ConversationMode m_sessionMode = ConversationMode::conversation;
    std::optional<LaunchSentinel> m_launchSentinel;
    bool m_uncleanTerminationReported = false;
    bool m_appOpenReportStarted = false;
    std::optional<QDateTime> m_startedAt;
    std::optional<QDateTime> m_pauseStartedAt;
    double m_totalPaused = 0;
    double m_recordingMaximumSeconds = 3600;
    std::optional<QUrl> m_audioURL;
    std::optional<QUuid> m_liveReservationID;
    // From the press of Finish until the finish shows: the conversation is sealed meanwhile, and
    // nothing else may finish, pause or resume it.
    bool m_finishPressed = false;
    // Sessions cut short by the end of the last run (their recording swept, or their mark left),
    // until they are reported.
    QList<QUuid> m_cutShort;
    // The session of the conversation under way, from its recording to the end of its finish or
    // its give-up.
    std::optional<QUuid> m_conversationID;
    // The user chose to discard the conversation as the application ends.
    bool m_discardsAtQuit = false;
    SeatMap<QUuid> m_nudgeRequestIDs;
    std::optional<QUuid> m_appleAuthorizationAttemptID;
    QTimer* m_appleAuthorizationTimeout = nullptr;
    // The next ask of a deletion left pending, and how many asks since the deletion was asked
    // proved nothing.
    QTimer* m_deletionRetry = nullptr;
    int m_unansweredDeletionAsks = 0;
    QTimer* m_roomCheck = nullptr;
    std::shared_ptr<SessionCoordinator> m_coordinator;
    std::unique_ptr<QNetworkAccessManager> m_network;

    bool m_startUpFinished = false;
    bool m_startUpRunning = false;
    // Links from the browser that came while the start-up ran.
    QList<QUrl> m_linksWaitingForStartUp;
    bool m_storagePrepared = false;
    bool m_sessionRead = false;
    bool m_launchSentinelTried = false;
    int m_runningOperations = 0;
    std::shared_ptr<const bool> m_lifetime = std::make_shared<const bool>(true);
};

} // namespace lumora
