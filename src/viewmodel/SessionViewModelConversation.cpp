// The conversation of the session view model: its start, its finish and save, and the
// give-up at sign-out.
#include "appcore/ConversationBackupService.hpp"
#include "appcore/PreparedConversation.hpp"
#include "appcore/ServiceFailureCode.hpp"
#include "appcore/SessionCoordinator.hpp"
#include "audio/MicrophoneAccess.hpp"
#include "audio/NativeAudioCapture.hpp"
#include "domain/ConversationStartPolicy.hpp"
#include "domain/TurnGrouping.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "providers/DeepgramClient.hpp"
#include "providers/DeepgramLiveSession.hpp"
#include "providers/LiveCoaching.hpp"
#include "viewmodel/RecordingTimer.hpp"
#include "viewmodel/SessionViewModel.hpp"
#include "viewmodel/ViewModelLog.hpp"
#include "wire/AnalysisProviderResult.hpp"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <algorithm>
#include <cmath>
#include <limits>

namespace lumora {

namespace {

const QString startingText = QStringLiteral("Starting securely\u2026");
const QString notReadyText = QStringLiteral("The secure session is not ready.");
const QString processingFailedText
    = QStringLiteral("Processing failed. The temporary recording was deleted.");
const QString diskFullText
    = QStringLiteral("This conversation could not be saved because the disk is full. "
                     "It is kept here, paused: free some space, then press Finish again.");
const QString notSealedText
    = QStringLiteral("This conversation could not be saved on this computer. It is kept "
                     "here, paused: press Finish to try again.");
const QString savedLocallyText = QStringLiteral("Your conversation is saved on this computer and ready to "
                                                "review. It reaches your account as soon as it can.");

const QString conversationReadyText = QStringLiteral("Conversation ready to review");
const QString checkinSavedText = QStringLiteral("Check-in saved");
const QString liveTranscriptConversationText
    = QStringLiteral("Conversation ready to review. The final transcript could not be made, so the review "
                     "uses the live transcript.");
const QString liveTranscriptCheckinText = QStringLiteral(
    "Check-in saved. The final transcript could not be made, so the review uses the live transcript.");

// Why the microphone cannot record: a computer without one (or without a sound server to offer
// it) is told what to do; one that is there and refuses is a refused access.
QString microphoneRefusalText(NativeAudioCaptureError error)
{
    if (error == NativeAudioCaptureError::noMicrophone)
        return QStringLiteral(
            "No microphone was found. Connect a microphone or turn one on in the sound settings, then "
            "try again.");
    return QStringLiteral("Microphone access is required.");
}

// The seconds a conversation asks the coordinator for.
constexpr double requestedSeconds = 3600;

QString readinessText(ConversationStartReadiness readiness)
{
    switch (readiness) {
    case ConversationStartReadiness::needsRecordingAgreement:
        return QStringLiteral("Confirm recording agreement before starting a conversation.");
    case ConversationStartReadiness::needsSignIn:
        return QStringLiteral("Sign in before starting a conversation.");
    case ConversationStartReadiness::temporarilyUnavailable:
    case ConversationStartReadiness::ready:
        break;
    }
    return QStringLiteral("Corvane is still getting the room ready. Try again in a moment.");
}

// The control plane's failure inside a start failure, wherever it came from.
const ControlPlaneFailure* controlPlaneFailureOf(const ConversationStartFailure& failure)
{
    if (const auto* direct = std::get_if<ControlPlaneFailure>(&failure))
        return direct;
    if (const auto* coordinator = std::get_if<SessionCoordinatorFailure>(&failure)) {
        if (const auto* provider = std::get_if<ProviderFailure>(coordinator))
            return provider->as<ControlPlaneFailure>();
    }
    return nullptr;
}

template <typename Enum> QString enumCode(const char* domain, Enum value)
{
    return QString::fromLatin1(domain) + u'_' + QString::number(int(value));
}

QString temporaryStoreCode(const TemporaryStoreFailure& failure)
{
    if (const auto* error = std::get_if<TemporaryStoreError>(&failure))
        return enumCode("TemporaryStoreError", *error);
    return QStringLiteral("FileSystemError_0");
}

// Runs `action` when it goes out of scope, by whichever exit.
template <typename Action> class AtExit {
public:
    explicit AtExit(Action action)
        : m_action(std::move(action))
    {
    }
    ~AtExit() { m_action(); }
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;

private:
    Action m_action;
};

double secondsBetween(const QDateTime& from, const QDateTime& to)
{
    return double(from.msecsTo(to)) / 1000.0;
}

// The review that the UI smoke mode saves in place of a processed conversation.
DerivedSessionResult smokeResult(QUuid id, const QDateTime& now, double duration, ConversationMode mode)
{
    const QList<SpeakerTurn> fixture { SpeakerTurn(0, 0.0, 22.0, QStringLiteral("fixture")),
        SpeakerTurn(1, 22.0, 40.0, QStringLiteral("fixture")) };
    DerivedSessionResult result;
    result.id = id;
    result.completedAt = now;
    result.duration = duration;
    result.mode = mode;
    result.stats = TurnGrouping::stats(TurnGrouping::group(fixture));
    result.fouls = QList<ProcessFoulAnnotation> {};
    result.summary
        = QStringLiteral("Both people made room for each other and the conversation stayed balanced.");
    result.transcript = QList<SpeakerTurn> {
        SpeakerTurn(0, 0.0, 22.0, QStringLiteral("I want to slow down and say what I mean.")),
        SpeakerTurn(1, 22.0, 40.0, QStringLiteral("I\u2019m here. Let\u2019s take it one thing at a time.")),
    };
    return result;
}

} // namespace

ConversationStartReadiness SessionViewModel::startReadiness() const
{
    return ConversationStartPolicy::readiness(
        m_recordingAgreementAccepted, isSignedIn(), m_isBusy, m_isProcessing, m_isStartingConversation);
}

QCoro::Task<void> SessionViewModel::toggleRecording()
{
    if (m_isRecording || m_isPaused)
        co_await finishConversation();
    else
        co_await beginConversation();
}

void SessionViewModel::requestToggleRecording()
{
    start(toggleRecording());
}

void SessionViewModel::requestFinishConversation()
{
    start(finishConversation());
}

void SessionViewModel::adoptCoordinator(std::shared_ptr<SessionCoordinator> coordinator)
{
    m_coordinator = std::move(coordinator);
}

NativeAudioCapture& SessionViewModel::audioCapture()
{
    if (!m_audioCapture)
        m_audioCapture = std::make_shared<NativeAudioCapture>();
    return *m_audioCapture;
}

QCoro::Task<void> SessionViewModel::beginConversation()
{
    if (const auto readiness = startReadiness(); readiness != ConversationStartReadiness::ready) {
        reportFailure(readinessText(readiness));
        co_return;
    }
    m_sessionMode = isCheckinOpen() ? ConversationMode::checkin : ConversationMode::conversation;
    publish(m_isStartingConversation, true, &SessionViewModel::isStartingConversationChanged);
    // However the start ends, recording or not, it is no longer starting.
    const AtExit started([this, alive = lifetime()] {
        if (!alive.expired())
            publish(m_isStartingConversation, false, &SessionViewModel::isStartingConversationChanged);
    });
    setErrorMessage(std::nullopt);
    setStatusText(startingText);
    if (m_smokeMode) {
        co_await beginSmokeConversation();
        co_return;
    }

    const auto alive = lifetime();
    const bool permitted = co_await microphonePermitted();
    if (alive.expired() || !permitted)
        co_return;
    const std::optional<PreparedConversation> prepared = co_await reserveConversation();
    if (alive.expired() || !prepared)
        co_return;
    m_liveReservationID = prepared->reservationID;
    // A reservation may grant more than a recording can hold; the capture and the clock stop
    // at whichever limit comes first.
    const double maximumSeconds = std::min(prepared->maximumSeconds, NativeAudioCapture::maximumDuration);
    const bool streaming = co_await startLiveSession(*prepared);
    if (alive.expired() || !streaming)
        co_return;
    const bool capturing = co_await startCapture(prepared->audioURL, maximumSeconds);
    if (alive.expired() || !capturing)
        co_return;
    enterRecording(prepared->audioURL, maximumSeconds);
}

QCoro::Task<bool> SessionViewModel::microphonePermitted()
{
    const auto alive = lifetime();
    std::expected<void, NativeAudioCaptureError> permitted;
    if (m_environment.microphonePermission)
        permitted = co_await m_environment.microphonePermission();
    else
        permitted = co_await MicrophoneAccess::request();
    if (alive.expired())
        co_return false;
    if (!permitted) {
        reportFailure(microphoneRefusalText(permitted.error()));
        co_return false;
    }
    co_return true;
}

QCoro::Task<std::optional<PreparedConversation>> SessionViewModel::reserveConversation()
{
    if (!m_client) {
        reportFailure(notReadyText);
        co_return std::nullopt;
    }
    const auto alive = lifetime();
    // Through a copy: a sign-out meanwhile must not free the client during the call.
    const auto session = co_await std::shared_ptr(m_client)->createConversationSession();
    if (alive.expired())
        co_return std::nullopt;
    if (!session) {
        co_await failStart(session.error());
        co_return std::nullopt;
    }
    if (!session->sessionID) {
        co_await failStart(ControlPlaneFailure(ControlPlaneError::invalidResponse()));
        co_return std::nullopt;
    }
    publish(m_currentSession, std::optional(*session), &SessionViewModel::currentSessionChanged);
    resetLiveState();
    publish(m_liveSummary, std::optional<QString>(), &SessionViewModel::liveSummaryChanged);
    setSelectedAgendaStep(0);

    const auto coordinator = m_coordinator;
    if (!coordinator) {
        reportFailure(notReadyText);
        co_return std::nullopt;
    }
    auto prepared = co_await coordinator->prepare(*session->sessionID, requestedSeconds, m_sessionMode);
    if (alive.expired())
        co_return std::nullopt;
    if (!prepared) {
        co_await failStart(prepared.error());
        co_return std::nullopt;
    }
    co_return std::move(*prepared);
}

QCoro::Task<bool> SessionViewModel::startLiveSession(PreparedConversation prepared)
{
    const auto client = m_client;
    if (!client)
        co_return true;
    const auto alive = lifetime();
    const double rate = std::trunc(co_await NativeAudioCapture::inputSampleRate());
    if (alive.expired())
        co_return false;
    if (!(rate >= 1 && rate <= double(std::numeric_limits<int>::max()))) {
        co_await failStart(NativeAudioCaptureError::noMicrophone);
        co_return false;
    }
    DeepgramLiveSessionOptions options;
    options.baseURL = m_environment.info.speechServiceURL().value_or(DeepgramClient::defaultBaseURL());
    QPointer<SessionViewModel> self(this);
    std::shared_ptr<DeepgramLiveSession> live(new DeepgramLiveSession(
                                                  prepared.liveGrant, int(rate), prepared.reservationID,
                                                  LiveCoaching::analyzer(m_sessionMode, client), client,
                                                  [self](const SpeakerTurn& turn) {
                                                      if (self)
                                                          self->handleLiveTurn(turn);
                                                  },
                                                  [self]() -> std::optional<LiveAnalysisContext> {
                                                      if (!self)
                                                          return std::nullopt;
                                                      return LiveAnalysisContext(
                                                          std::clamp(self->m_selectedAgendaStep, 0, 5));
                                                  },
                                                  [self](const AnalysisProviderResult& result) {
                                                      if (self)
                                                          self->handleLiveInsight(result);
                                                  },
                                                  std::move(options)),
        // The PCM handler may drop the last reference on the audio thread.
        [](DeepgramLiveSession* session) { session->deleteLater(); });
    live->start();
    m_liveSession = std::move(live);
    co_return true;
}

QCoro::Task<bool> SessionViewModel::startCapture(QUrl audioURL, double maximumSeconds)
{
    NativeAudioCapture::PcmHandler pcmHandler;
    if (const auto live = m_liveSession) {
        // Runs on the audio thread: hands each block to the session's own thread, where its
        // outgoing queue keeps the blocks in capture order.
        pcmHandler = [live](const QByteArray& block) { live->postPCM(block); };
    }
    QPointer<SessionViewModel> self(this);
    auto completion = [self](bool successfully) {
        if (self)
            self->handleCaptureEnded(successfully);
    };
    audioCapture();
    const auto capture = m_audioCapture;
    const auto alive = lifetime();
    const auto captured = co_await capture->start(
        audioURL.toLocalFile(), maximumSeconds, std::move(pcmHandler), std::move(completion));
    if (alive.expired())
        co_return false;
    if (!captured) {
        co_await failStart(captured.error());
        co_return false;
    }
    co_return true;
}

QCoro::Task<void> SessionViewModel::beginSmokeConversation()
{
    const QUuid id = QUuid::createUuid();
    ConversationSessionState session;
    session.sessionID = id;
    session.status = QStringLiteral("ready");
    session.expiresAt = m_environment.clock().addSecs(7200);
    publish(m_currentSession, std::optional(session), &SessionViewModel::currentSessionChanged);
    resetLiveState();
    publish(m_liveSummary, std::optional<QString>(), &SessionViewModel::liveSummaryChanged);
    setSelectedAgendaStep(0);

    if (!m_temporaryStore) {
        co_await failStart(TemporaryStoreFailure(TemporaryStoreError::unsafeRoot));
        co_return;
    }
    const auto folder = m_temporaryStore->createSessionDirectory(id);
    if (!folder) {
        co_await failStart(folder.error());
        co_return;
    }
    const auto file = m_temporaryStore->write(
        QByteArrayView(), QString::fromLatin1(SessionCoordinator::recordingFileName), *folder);
    if (!file) {
        (void)m_temporaryStore->removeSessionDirectory(*folder);
        co_await failStart(file.error());
        co_return;
    }
    enterRecording(QUrl::fromLocalFile(*file), requestedSeconds);
}

void SessionViewModel::enterRecording(const QUrl& audioURL, double maximumSeconds)
{
    m_audioURL = audioURL;
    m_conversationID = m_currentSession ? m_currentSession->sessionID : std::nullopt;
    m_startedAt = m_environment.clock();
    m_pauseStartedAt.reset();
    m_totalPaused = 0;
    publish(m_elapsed, 0.0, &SessionViewModel::elapsedChanged);
    m_recordingMaximumSeconds = maximumSeconds;
    publishRunningFlag(m_isRecording, true, &SessionViewModel::isRecordingChanged);
    publishRunningFlag(m_isPaused, false, &SessionViewModel::isPausedChanged);
    setStatusText(m_sessionMode == ConversationMode::checkin ? QStringLiteral("Recording your check-in")
                                                             : QStringLiteral("Recording visibly"));
    if (m_sessionMode == ConversationMode::checkin && m_checkinFlow) {
        CheckinFlow flow = *m_checkinFlow;
        flow.restart(0);
        m_checkinFlow = std::move(flow);
        emit checkinFlowChanged();
    }
    startRecordingClock();
}

void SessionViewModel::startRecordingClock()
{
    m_recordingTimer
        = m_environment.recordingTimer ? m_environment.recordingTimer() : RecordingTimer::standard();
    QPointer<SessionViewModel> self(this);
    m_recordingTimer->start([self] {
        if (self)
            self->start(self->recordingClockTick());
    });
}

QCoro::Task<void> SessionViewModel::failStart(ConversationStartFailure failure)
{
    qCCritical(
        conversationLog, "Conversation start failed: %s", qUtf8Printable(startFailureDiagnostic(failure)));
    const auto alive = lifetime();
    co_await giveUpConversation(0, FinishUnderWay::kept);
    if (alive.expired())
        co_return;
    reportFailure(conversationStartFailureMessage(failure));
}

QCoro::Task<void> SessionViewModel::stopLiveSession(qint64 durationSeconds)
{
    // Held until its stop returns.
    const auto live = std::exchange(m_liveSession, nullptr);
    if (live)
        co_await live->stop(durationSeconds);
}

void SessionViewModel::stopRecordingClock()
{
    m_recordingTimer.reset();
}

QString SessionViewModel::startFailureDiagnostic(const ConversationStartFailure& failure)
{
    if (const auto* controlPlane = controlPlaneFailureOf(failure)) {
        if (const auto* error = std::get_if<ControlPlaneError>(controlPlane)) {
            const QString status = QString::number(error->status().value_or(0));
            switch (error->kind()) {
            case ControlPlaneError::Kind::rejected:
                return QStringLiteral("control_plane_rejected_") + status;
            case ControlPlaneError::Kind::rejectedWithCode:
                return QStringLiteral("control_plane_rejected_") + status + u'_'
                    + error->code().value_or(QString());
            case ControlPlaneError::Kind::invalidResponse:
                return QStringLiteral("control_plane_invalid_response");
            }
        }
        if (const auto* transport = std::get_if<TransportError>(controlPlane))
            return ServiceFailureCode::network(transport->code);
        if (std::holds_alternative<JsonDecodeError>(*controlPlane))
            return QStringLiteral("control_plane_decode_error");
        if (const auto* crypto = std::get_if<CryptoError>(controlPlane))
            return enumCode("CryptoError", *crypto);
    }
    if (const auto* coordinator = std::get_if<SessionCoordinatorFailure>(&failure)) {
        if (const auto* error = std::get_if<SessionCoordinatorError>(coordinator))
            return *error == SessionCoordinatorError::durationCap
                ? QStringLiteral("coordinator_durationCap")
                : QStringLiteral("coordinator_invalidState");
        if (const auto* store = std::get_if<ResultStoreFailure>(coordinator))
            return QStringLiteral("ResultStoreFailure_") + QString::number(store->index());
        if (const auto* temporary = std::get_if<TemporaryStoreFailure>(coordinator))
            return temporaryStoreCode(*temporary);
        return QStringLiteral("ProviderFailure_0");
    }
    if (const auto* capture = std::get_if<NativeAudioCaptureError>(&failure))
        return enumCode("NativeAudioCaptureError", *capture);
    if (const auto* temporary = std::get_if<TemporaryStoreFailure>(&failure))
        return temporaryStoreCode(*temporary);
    return QStringLiteral("unknown_0");
}

QString SessionViewModel::conversationStartFailureMessage(const ConversationStartFailure& failure)
{
    const auto* controlPlane = controlPlaneFailureOf(failure);
    const auto* error = controlPlane ? std::get_if<ControlPlaneError>(controlPlane) : nullptr;
    if (error && error->kind() != ControlPlaneError::Kind::invalidResponse) {
        if (error->status() == 401)
            return QStringLiteral("This computer needs to sign in again before starting a conversation.");
        if (error->code() == QStringLiteral("provider_token_unavailable"))
            return QStringLiteral("Live guidance is temporarily unavailable. Please try again.");
    }
    return QStringLiteral("The conversation could not start. Check your connection and try again.");
}

QCoro::Task<void> SessionViewModel::finishConversation()
{
    if ((!m_isRecording && !m_isPaused) || m_finishPressed)
        co_return;
    if (!m_audioURL)
        co_return;
    // This finish's own copies: a give-up while it waits (sign-out, account deletion) clears the
    // fields, and a conversation started after that sets them anew.
    const QUrl audioURL = *m_audioURL;
    const std::optional<QUuid> reservationID = m_liveReservationID;
    const std::optional<QUuid> conversationID = m_conversationID;
    // The recorded length is settled at the press. The capture only pauses until the review is
    // sealed: a conversation that cannot be sealed goes on from where it stood.
    const QDateTime pressedAt = m_environment.clock();
    audioCapture().pause();
    stopRecordingClock();
    if (m_pauseStartedAt) {
        m_totalPaused += secondsBetween(*m_pauseStartedAt, pressedAt);
        m_pauseStartedAt.reset();
    }
    // The conversation is sealed before the room shows it as saved, so that it is from the
    // first frame on, whatever happens to the finish after.
    const auto alive = lifetime();
    m_finishPressed = true;
    PressSeal seal;
    if (!m_smokeMode)
        seal = co_await sealProvisionalReview();
    if (alive.expired())
        co_return;
    m_finishPressed = false;
    // Given up while it was sealed (a sign-out): the give-up has done the rest.
    if (!m_isRecording && !m_isPaused)
        co_return;
    if (seal.failure) {
        keepUnsealedConversation(*seal.failure, pressedAt);
        co_return;
    }
    // Saved now: what an earlier Finish said about keeping it unsaved no longer holds.
    if (m_errorMessage == diskFullText || m_errorMessage == notSealedText)
        setErrorMessage(std::nullopt);
    audioCapture().stop();
    // Processing before the recording ends, so that the conversation never looks over meanwhile
    // (a question about quitting it stays open).
    publishRunningFlag(m_isProcessing, true, &SessionViewModel::isProcessingChanged);
    publishRunningFlag(m_isRecording, false, &SessionViewModel::isRecordingChanged);
    publishRunningFlag(m_isPaused, false, &SessionViewModel::isPausedChanged);
    // The sealed review is this finish's to hand to the backup service, however the finish ends.
    ConversationBackupService::BackUpHold held;
    if (const auto service = seal.reviewID ? m_backupService : nullptr) {
        held = co_await service->holdBackUp(*seal.reviewID);
        if (alive.expired())
            co_return;
    }
    co_await stopLiveSession(qint64(std::max(m_elapsed, 1.0)));
    if (alive.expired())
        co_return;
    setStatusText(QStringLiteral("Processing privately"));

    if (m_smokeMode)
        co_await finishSmokeConversation(audioURL);
    else
        co_await finishWithCoordinator(audioURL);
    if (alive.expired())
        co_return;

    publishRunningFlag(m_isProcessing, false, &SessionViewModel::isProcessingChanged);
    if (m_audioURL == audioURL)
        m_audioURL.reset();
    if (m_liveReservationID == reservationID)
        m_liveReservationID.reset();
    if (m_conversationID == conversationID)
        m_conversationID.reset();
    emit conversationFinished();
}

void SessionViewModel::keepUnsealedConversation(const ResultStoreFailure& failure, const QDateTime& pressedAt)
{
    // Paused since the press, with its recording, its live turns and its reservation, for another
    // Finish once the review can be written, or a Discard.
    m_pauseStartedAt = pressedAt;
    publishRunningFlag(m_isPaused, true, &SessionViewModel::isPausedChanged);
    publishRunningFlag(m_isRecording, false, &SessionViewModel::isRecordingChanged);
    startRecordingClock();
    const auto* fileSystem = std::get_if<FileSystemError>(&failure);
    const bool full = fileSystem && fileSystem->noSpace;
    qCWarning(conversationLog, "The conversation is kept, paused, for another Finish: %s",
        full ? "the disk is full" : "its review could not be written");
    reportFailure(full ? diskFullText : notSealedText);
}

QCoro::Task<SessionViewModel::PressSeal> SessionViewModel::sealProvisionalReview()
{
    const auto coordinator = m_coordinator;
    if (!coordinator)
        co_return PressSeal {};
    AnalysisProviderResult live;
    live.summary = m_liveSummary.value_or(QString());
    live.annotations = m_liveAnnotations;
    live.fouls = m_liveFouls;
    live.harshStartup = m_liveStartup;
    live.circularity = m_liveCircularity;
    const auto sealed = co_await coordinator->sealProvisional(std::move(live), std::max(m_elapsed, 1.0));
    if (!sealed) {
        qCWarning(conversationLog, "The conversation could not be sealed at the finish: %s",
            qUtf8Printable(startFailureDiagnostic(sealed.error())));
        PressSeal unsealed;
        if (const auto* store = std::get_if<ResultStoreFailure>(&sealed.error()))
            unsealed.failure = *store;
        co_return unsealed;
    }
    co_return PressSeal { sealed->id, std::nullopt };
}

QCoro::Task<void> SessionViewModel::finishSmokeConversation(QUrl audioURL)
{
    removeRecordingFolder(audioURL);
    const QUuid id = m_currentSession && m_currentSession->sessionID ? *m_currentSession->sessionID
                                                                     : QUuid::createUuid();
    const DerivedSessionResult result = smokeResult(id, m_environment.clock(), m_elapsed, m_sessionMode);
    const auto alive = lifetime();
    if (const auto store = m_resultStore) {
        (void)co_await store->save(result);
        if (alive.expired())
            co_return;
    }
    QList<DerivedSessionResult> results = m_results;
    results.prepend(result);
    publish(m_results, std::move(results), &SessionViewModel::resultsChanged);
    co_await synchronizeHistory(false);
    if (alive.expired())
        co_return;
    publish(m_currentSession, std::optional<ConversationSessionState>(),
        &SessionViewModel::currentSessionChanged);
    publish(m_liveSummary, std::optional<QString>(), &SessionViewModel::liveSummaryChanged);
    resetLiveState();
    setStatusText(m_sessionMode == ConversationMode::checkin ? checkinSavedText : conversationReadyText);
    co_await finishCheckinIfRunning();
}

QCoro::Task<void> SessionViewModel::finishWithCoordinator(QUrl audioURL)
{
    const auto coordinator = m_coordinator;
    if (!coordinator) {
        qCWarning(conversationLog, "Conversation finish failed: %s", "coordinator_invalidState");
        co_await recoverFinish(audioURL);
        co_return;
    }
    const auto alive = lifetime();
    const auto result
        = co_await coordinator->finish(audioURL, QStringLiteral("audio/mp4"), std::max(m_elapsed, 1.0));
    if (alive.expired())
        co_return;
    if (!result) {
        qCWarning(conversationLog, "Conversation finish failed: %s",
            qUtf8Printable(startFailureDiagnostic(result.error())));
        co_await recoverFinish(audioURL);
        co_return;
    }
    if (const auto reset = coordinator->resetAfterCompletion(); !reset) {
        qCWarning(conversationLog, "Conversation finish failed: %s",
            qUtf8Printable(startFailureDiagnostic(SessionCoordinatorFailure(reset.error()))));
        co_await recoverFinish(audioURL);
        co_return;
    }
    auto results = co_await storedResults();
    if (alive.expired())
        co_return;
    publish(m_results, std::move(results), &SessionViewModel::resultsChanged);
    publish(m_currentSession, std::optional<ConversationSessionState>(),
        &SessionViewModel::currentSessionChanged);
    resetLiveState();
    const bool checkin = m_sessionMode == ConversationMode::checkin;
    setStatusText(checkin ? checkinSavedText : conversationReadyText);
    co_await backUpFinishedConversation(*result);
    if (alive.expired())
        co_return;
    co_await finishCheckinIfRunning();
    if (alive.expired())
        co_return;
    // The review is saved and on its way to the account; an account state that cannot be
    // read just now changes nothing about that.
    if (!co_await refreshAfterConversation())
        qCWarning(conversationLog, "The account could not be refreshed after the conversation.");
    if (alive.expired())
        co_return;
    co_await closeLeftReservations();
    if (alive.expired())
        co_return;
    // Said last, so that the account's resting line does not cover it: the room shows it.
    if (result->fromLiveTranscript)
        setStatusText(checkin ? liveTranscriptCheckinText : liveTranscriptConversationText);
    else
        setStatusText(checkin ? checkinSavedText : conversationReadyText);
}

QCoro::Task<void> SessionViewModel::recoverFinish(QUrl audioURL)
{
    const std::optional<QUuid> sessionID = m_currentSession ? m_currentSession->sessionID : std::nullopt;
    const auto alive = lifetime();
    if (const auto coordinator = m_coordinator) {
        co_await coordinator->abandon();
        if (alive.expired())
            co_return;
    }
    // Without a coordinator (or with one that holds another folder) the recording would stay.
    removeRecordingFolder(audioURL);
    resetLiveState();
    if (const auto store = m_resultStore) {
        auto listed = co_await store->list();
        if (alive.expired())
            co_return;
        if (listed)
            publish(m_results, shownResults(std::move(listed->results)), &SessionViewModel::resultsChanged);
    }
    std::optional<DerivedSessionResult> saved;
    if (sessionID) {
        const auto found = std::find_if(m_results.cbegin(), m_results.cend(),
            [&](const DerivedSessionResult& result) { return result.id == *sessionID; });
        if (found != m_results.cend())
            saved = *found;
    }
    if (saved) {
        publish(m_currentSession, std::optional<ConversationSessionState>(),
            &SessionViewModel::currentSessionChanged);
        co_await backUpFinishedConversation(*saved);
        if (alive.expired())
            co_return;
        co_await finishCheckinIfRunning();
        if (alive.expired())
            co_return;
        reportFailure(savedLocallyText);
        co_return;
    }
    const bool runningBefore = isCheckinRunning();
    m_sessionMode = ConversationMode::conversation;
    if (isCheckinRunning() != runningBefore)
        emit isCheckinRunningChanged();
    reportFailure(processingFailedText);
}

void SessionViewModel::removeRecordingFolder(const QUrl& audioURL)
{
    const QString folder = QFileInfo(audioURL.toLocalFile()).absolutePath();
    if (m_temporaryStore)
        (void)m_temporaryStore->removeSessionDirectory(folder);
}

QCoro::Task<void> SessionViewModel::backUpFinishedConversation(DerivedSessionResult result)
{
    const auto service = m_backupService;
    if (!service)
        co_return;
    const auto alive = lifetime();
    const auto outcome = co_await service->backUp(std::move(result), m_environment.clock());
    if (alive.expired())
        co_return;
    if (outcome.kind() == ConversationBackupOutcome::Kind::retryLater
        && outcome.failureCode() == QStringLiteral("active_workspace_required"))
        co_await refreshPairingState();
    if (alive.expired())
        co_return;
    co_await synchronizeHistory(false);
}

QCoro::Task<void> SessionViewModel::finishCheckinIfRunning()
{
    if (m_sessionMode != ConversationMode::checkin)
        co_return;
    const bool runningBefore = isCheckinRunning();
    m_sessionMode = ConversationMode::conversation;
    if (isCheckinRunning() != runningBefore)
        emit isCheckinRunningChanged();
    publish(m_isCheckinFinished, true, &SessionViewModel::isCheckinFinishedChanged);
    co_await rescheduleCheckinReminder();
}

QCoro::Task<bool> SessionViewModel::refreshAfterConversation()
{
    co_return (co_await refreshRemoteState()).has_value();
}

QCoro::Task<void> SessionViewModel::abandonConversation()
{
    // Nothing of a start under way is the live stream's yet.
    const qint64 streamed = m_isRecording || m_isPaused ? qint64(std::max(m_elapsed, 1.0)) : 0;
    co_await giveUpConversation(streamed, FinishUnderWay::kept);
}

QCoro::Task<void> SessionViewModel::giveUpConversation(
    std::optional<qint64> streamedSeconds, FinishUnderWay finishing)
{
    audioCapture().stop();
    stopRecordingClock();
    publishRunningFlag(m_isRecording, false, &SessionViewModel::isRecordingChanged);
    publishRunningFlag(m_isPaused, false, &SessionViewModel::isPausedChanged);
    m_pauseStartedAt.reset();
    // Without a coordinator (or with one that holds another folder) the recording would stay.
    if (m_audioURL)
        removeRecordingFolder(*m_audioURL);
    const auto alive = lifetime();
    // Held until its end returns.
    if (const auto live = std::exchange(m_liveSession, nullptr)) {
        if (streamedSeconds)
            co_await live->stop(*streamedSeconds);
        else
            co_await live->abandon();
        if (alive.expired())
            co_return;
    }
    if (const auto coordinator = m_coordinator) {
        co_await coordinator->abandon(finishing);
        if (alive.expired())
            co_return;
    }
    m_audioURL.reset();
    m_liveReservationID.reset();
    m_conversationID.reset();
}

} // namespace lumora
