#include "appcore/SessionCoordinator.hpp"

#include "appcore/AppcoreLog.hpp"
#include "domain/CheckinReview.hpp"
#include "domain/ConversationSummary.hpp"
#include "domain/TurnGrouping.hpp"
#include "persistence/DerivedResultRepository.hpp"
#include "providers/AnalysisProvider.hpp"
#include "providers/FinalTranscriptionProvider.hpp"
#include "providers/ProviderTokenSource.hpp"
#include "providers/ProviderUsageReporter.hpp"
#include "providers/SessionAuthorizationProvider.hpp"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <cmath>
#include <limits>
#include <qcoro/qcorotimer.h>

namespace lumora {

namespace {

// Seconds rounded up to a whole second (12.1 gives 13). Nothing below zero is sent: negative,
// infinitely negative and NaN values give 0, and values beyond the integer range the largest one.
qint64 wholeSecondsRoundedUp(double seconds)
{
    if (!(seconds > 0))
        return 0;
    const double rounded = std::ceil(seconds);
    if (rounded >= 9.2e18)
        return std::numeric_limits<qint64>::max();
    return static_cast<qint64>(rounded);
}

template <typename T> std::unexpected<SessionCoordinatorFailure> failure(T error)
{
    return std::unexpected(SessionCoordinatorFailure(std::move(error)));
}

// The review of a conversation from its turns and what an analysis found in them; a check-in's
// carries no judgement.
DerivedSessionResult reviewOf(const QUuid& id, ConversationMode mode, double duration,
    const QList<SpeakerTurn>& turns, const AnalysisProviderResult& analysis, const QDateTime& completedAt,
    bool fromLiveTurns)
{
    DerivedSessionResult result;
    result.id = id;
    result.title = analysis.title;
    result.completedAt = completedAt;
    result.duration = duration;
    result.mode = mode;
    result.stats = TurnGrouping::stats(TurnGrouping::group(turns));
    result.annotations = analysis.annotations;
    result.fouls = analysis.fouls.value_or(QList<ProcessFoulAnnotation> {});
    if (analysis.harshStartup)
        result.harshStartupDetected = analysis.harshStartup->detected;
    result.summary = analysis.summary;
    result.transcript = turns;
    result.fromLiveTranscript = fromLiveTurns;
    if (mode == ConversationMode::checkin)
        result = CheckinReview::gentled(std::move(result));
    return result;
}

// What was found live, batch by batch, as the findings of the whole conversation: a live batch's
// summary counts that batch alone, so the summary is counted again over every turn.
AnalysisProviderResult wholeConversation(AnalysisProviderResult live, const QList<SpeakerTurn>& turns)
{
    live.summary = ConversationSummary::counted(turns, live.annotations,
        live.fouls.value_or(QList<ProcessFoulAnnotation> {}),
        live.harshStartup && live.harshStartup->detected, live.circularity && live.circularity->detected);
    return live;
}

} // namespace

// What one finish works with: its own copies, so that an abandon while it waits cannot take
// them away.
struct SessionCoordinator::FinishRun {
    quint64 generation = 0;
    UsageReservation reservation;
    QUuid sessionID;
    std::optional<QString> directory;
    ConversationMode mode = ConversationMode::conversation;
    QUrl audioURL;
    QString mimeType;
    double actualSeconds = 0;
    QList<SpeakerTurn> liveTurns;
    std::optional<Provisional> provisional;
};

std::shared_ptr<SessionCoordinator> SessionCoordinator::create(
    std::shared_ptr<SessionAuthorizationProvider> authorization,
    std::shared_ptr<ProviderTokenSource> tokenSource,
    std::shared_ptr<FinalTranscriptionProvider> transcription, std::shared_ptr<AnalysisProvider> analysis,
    std::shared_ptr<ProviderUsageReporter> usage, std::shared_ptr<DerivedResultRepository> results,
    TemporaryConversationStore temporary, ConversationMarks marks, std::chrono::milliseconds retryDelay)
{
    return std::shared_ptr<SessionCoordinator>(new SessionCoordinator(std::move(authorization),
        std::move(tokenSource), std::move(transcription), std::move(analysis), std::move(usage),
        std::move(results), std::move(temporary), std::move(marks), retryDelay));
}

SessionCoordinator::SessionCoordinator(std::shared_ptr<SessionAuthorizationProvider> authorization,
    std::shared_ptr<ProviderTokenSource> tokenSource,
    std::shared_ptr<FinalTranscriptionProvider> transcription, std::shared_ptr<AnalysisProvider> analysis,
    std::shared_ptr<ProviderUsageReporter> usage, std::shared_ptr<DerivedResultRepository> results,
    TemporaryConversationStore temporary, ConversationMarks marks, std::chrono::milliseconds retryDelay)
    : m_authorization(std::move(authorization))
    , m_tokenSource(std::move(tokenSource))
    , m_transcription(std::move(transcription))
    , m_analysis(std::move(analysis))
    , m_usage(std::move(usage))
    , m_results(std::move(results))
    , m_temporary(std::move(temporary))
    , m_marks(std::move(marks))
    , m_retryDelay(retryDelay)
{
}

QCoro::Task<SessionCoordinator::Result<PreparedConversation>> SessionCoordinator::prepare(
    QUuid sessionID, double requestedSeconds, ConversationMode mode)
{
    if (m_phase != SessionPhase::idle)
        co_return failure(SessionCoordinatorError::invalidState);
    // Written so that NaN fails too.
    if (!(requestedSeconds > 0 && requestedSeconds <= maximumConversationSeconds))
        co_return failure(SessionCoordinatorError::durationCap);

    const auto self = shared_from_this();
    const quint64 generation = m_generation;
    m_phase = SessionPhase::authorizing;
    m_mode = mode;

    std::optional<SessionCoordinatorFailure> failed;
    std::optional<DeepgramGrant> grant;
    auto reserved = co_await m_authorization->reserve(sessionID, requestedSeconds);
    if (abandonedSince(generation)) {
        // Given up while the reservation was on its way: it is this call's alone to release.
        if (reserved)
            (void)co_await m_authorization->cancel(reserved->id);
        co_return failure(SessionCoordinatorError::invalidState);
    }
    if (!reserved) {
        failed = std::move(reserved.error());
    } else {
        m_reservation = *reserved;
        m_sessionID = sessionID;
        auto folder = m_temporary.createSessionDirectory(sessionID);
        if (folder) {
            m_sessionDirectory = *folder;
            // Marked with the application's data, so that the reservation is closed and the
            // conversation told of should it end without its finish (a crash, a kill, a power
            // cut that empties the runtime folder with the recording).
            const ConversationMarks::Mark mark { sessionID, reserved->id,
                ConversationMarks::State::recording };
            if (auto marked = m_marks.write(mark); !marked)
                failed = TemporaryStoreFailure(std::move(marked.error()));
        } else {
            failed = std::move(folder.error());
        }
        if (!failed) {
            auto credential = co_await m_tokenSource->deepgramGrant(reserved->id);
            // The abandon cancelled the stored reservation and removed the folder.
            if (abandonedSince(generation))
                co_return failure(SessionCoordinatorError::invalidState);
            if (!credential)
                failed = std::move(credential.error());
            else
                grant = *credential;
        }
    }

    if (failed) {
        if (m_reservation) {
            const QUuid reservationID = m_reservation->id;
            const bool closed = co_await m_authorization->cancel(reservationID);
            if (abandonedSince(generation))
                co_return std::unexpected(std::move(*failed));
            settleMark(sessionID, reservationID, closed);
        }
        (void)cleanupTemporary();
        returnToIdle();
        co_return std::unexpected(std::move(*failed));
    }

    m_phase = SessionPhase::recording;
    co_return PreparedConversation { .audioURL
        = QUrl::fromLocalFile(QDir(*m_sessionDirectory).filePath(QString::fromLatin1(recordingFileName))),
        .reservationID = reserved->id,
        .liveGrant = *grant,
        .maximumSeconds = reserved->maximumSeconds };
}

std::expected<void, SessionCoordinatorError> SessionCoordinator::acceptLiveTurn(const SpeakerTurn& turn)
{
    if (m_phase != SessionPhase::recording)
        return std::unexpected(SessionCoordinatorError::invalidState);
    m_turns.append(turn);
    return {};
}

QCoro::Task<SessionCoordinator::Result<DerivedSessionResult>> SessionCoordinator::sealProvisional(
    AnalysisProviderResult live, double actualSeconds)
{
    if (m_phase != SessionPhase::recording || !m_sessionID || m_provisional)
        co_return failure(SessionCoordinatorError::invalidState);
    const auto self = shared_from_this();
    const quint64 generation = m_generation;
    DerivedSessionResult review = reviewOf(*m_sessionID, m_mode, actualSeconds, m_turns,
        wholeConversation(live, m_turns), QDateTime::currentDateTimeUtc(), true);
    if (auto saved = co_await m_results->save(review); !saved)
        co_return failure(std::move(saved.error()));
    if (discardedSince(generation)) {
        // The account went meanwhile, and its conversations with it.
        (void)co_await m_results->remove(review.id);
        co_return failure(SessionCoordinatorError::invalidState);
    }
    if (!abandonedSince(generation))
        m_provisional = Provisional { std::move(live), review };
    co_return review;
}

QCoro::Task<SessionCoordinator::Result<DerivedSessionResult>> SessionCoordinator::finish(
    QUrl audioURL, QString mimeType, double actualSeconds)
{
    if (m_phase != SessionPhase::recording || !m_sessionID || !m_reservation)
        co_return failure(SessionCoordinatorError::invalidState);
    // The grant when it is below the longest conversation (a grant that is not a number
    // leaves the longest conversation as the cap).
    const double granted = m_reservation->maximumSeconds;
    const double cap = granted < maximumConversationSeconds ? granted : maximumConversationSeconds;
    // Written so that NaN fails too. There is no lower bound.
    if (!(actualSeconds <= cap))
        co_return failure(SessionCoordinatorError::durationCap);

    const auto self = shared_from_this();
    m_phase = SessionPhase::finalizing;
    FinishRun run { .generation = m_generation,
        .reservation = *m_reservation,
        .sessionID = *m_sessionID,
        .directory = m_sessionDirectory,
        .mode = m_mode,
        .audioURL = std::move(audioURL),
        .mimeType = std::move(mimeType),
        .actualSeconds = actualSeconds,
        .liveTurns = m_turns,
        .provisional = m_provisional };
    co_return co_await runFinish(std::move(run));
}

QCoro::Task<SessionCoordinator::Result<DeepgramTranscript>> SessionCoordinator::transcribeFinal(
    const FinishRun& run)
{
    const QUuid reservationID = run.reservation.id;
    std::optional<SessionCoordinatorFailure> failed;
    std::chrono::milliseconds delay = m_retryDelay;
    for (int attempt = 1; attempt <= finalTranscriptionAttempts; ++attempt) {
        if (attempt > 1) {
            co_await QCoro::sleepFor(delay);
            delay *= 2;
            // Given up meanwhile: the abandon has released the reservation.
            if (abandonedSince(run.generation))
                break;
        }
        // A fresh credential for every attempt: one that was refused or has run out is no use.
        auto grant = co_await m_tokenSource->deepgramGrant(reservationID);
        if (!grant) {
            failed = std::move(grant.error());
            continue;
        }
        QElapsedTimer latency;
        latency.start();
        auto transcript = co_await m_transcription->transcribeFinal(run.audioURL, run.mimeType, *grant);
        if (!transcript) {
            failed = std::move(transcript.error());
            continue;
        }
        // A report that does not arrive never fails the finish.
        const QString model = QString::fromLatin1(finalTranscriptionModel);
        (void)co_await m_usage->reportDeepgram(reservationID, DeepgramOperation::finalTranscription, model,
            wholeSecondsRoundedUp(transcript->duration), latency.elapsed(), 200);
        co_return std::move(*transcript);
    }
    co_return std::unexpected(
        failed.value_or(SessionCoordinatorFailure(SessionCoordinatorError::invalidState)));
}

QCoro::Task<SessionCoordinator::Result<DerivedSessionResult>> SessionCoordinator::runFinish(FinishRun run)
{
    const QUuid reservationID = run.reservation.id;
    auto transcript = co_await transcribeFinal(run);
    const bool fromLiveTurns = !transcript && !run.liveTurns.isEmpty() && !abandonedSince(run.generation);
    if (fromLiveTurns) {
        // The conversation is not lost to the provider: the turns heard live stand in for the
        // final transcript, over the recorded length.
        qCWarning(coordinatorLog, "The final transcription failed %d times; the review uses the live turns.",
            finalTranscriptionAttempts);
        transcript = DeepgramTranscript { run.actualSeconds, run.liveTurns };
    }
    if (!transcript)
        co_return co_await keepProvisional(std::move(run), std::move(transcript.error()));

    const auto discarded = [this, &run] { return discardedSince(run.generation); };
    if (discarded())
        co_return co_await failFinish(
            std::move(run), SessionCoordinatorFailure(SessionCoordinatorError::invalidState));
    const AnalysisRubric rubric = analysisRubric(run.mode);
    auto analysed = co_await m_analysis->analyze(
        AnalysisPass::final, rubric, transcript->turns, std::nullopt, reservationID);
    if (!analysed)
        co_return co_await keepProvisional(std::move(run), std::move(analysed.error()));
    if (discarded())
        co_return co_await failFinish(
            std::move(run), SessionCoordinatorFailure(SessionCoordinatorError::invalidState));

    DerivedSessionResult result = reviewOf(run.sessionID, run.mode, transcript->duration, transcript->turns,
        *analysed, QDateTime::currentDateTimeUtc(), fromLiveTurns);
    if (auto saved = co_await m_results->save(result); !saved)
        co_return co_await keepProvisional(std::move(run), std::move(saved.error()));
    co_return co_await complete(std::move(run), std::move(result));
}

QCoro::Task<SessionCoordinator::Result<DerivedSessionResult>> SessionCoordinator::keepProvisional(
    FinishRun run, SessionCoordinatorFailure error)
{
    if (!run.provisional || discardedSince(run.generation))
        co_return co_await failFinish(std::move(run), std::move(error));
    qCWarning(coordinatorLog, "The final review could not be made; the review sealed at the finish stays.");
    DerivedSessionResult review = run.provisional->review;
    if (review.transcript.value_or(QList<SpeakerTurn> {}).size() != run.liveTurns.size()) {
        // Turns settled while the live stream closed belong in the review that stays.
        DerivedSessionResult fuller = reviewOf(run.sessionID, run.mode, run.actualSeconds, run.liveTurns,
            wholeConversation(run.provisional->live, run.liveTurns), review.completedAt, true);
        if (co_await m_results->save(fuller))
            review = std::move(fuller);
    }
    co_return co_await complete(std::move(run), std::move(review));
}

QCoro::Task<SessionCoordinator::Result<DerivedSessionResult>> SessionCoordinator::complete(
    FinishRun run, DerivedSessionResult review)
{
    const QUuid reservationID = run.reservation.id;
    bool closed
        = (co_await m_authorization->finalize(reservationID, wholeSecondsRoundedUp(run.actualSeconds)))
              .has_value();
    // The review stands whatever becomes of the reservation; one that is not finalized is
    // cancelled, now or, when the control plane does not answer, from the mark left for it.
    if (!closed)
        closed = co_await m_authorization->cancel(reservationID);
    if (!discardedSince(run.generation))
        settleMark(run.sessionID, reservationID, closed);

    if (abandonedSince(run.generation)) {
        // The fields belong to whatever came after the abandon: clean up only this run's folder.
        if (run.directory) {
            if (auto removed = m_temporary.removeSessionDirectory(*run.directory); !removed)
                co_return failure(std::move(removed.error()));
        }
        co_return review;
    }
    if (auto removed = cleanupTemporary(); !removed)
        co_return co_await failFinish(std::move(run), std::move(removed.error()));
    m_phase = SessionPhase::complete;
    co_return review;
}

QCoro::Task<SessionCoordinator::Result<DerivedSessionResult>> SessionCoordinator::failFinish(
    FinishRun run, SessionCoordinatorFailure error)
{
    // Sent also after a finalize whose clean-up failed; the control plane takes it as done.
    const bool closed = co_await m_authorization->cancel(run.reservation.id);
    if (!discardedSince(run.generation))
        settleMark(run.sessionID, run.reservation.id, closed);
    if (abandonedSince(run.generation)) {
        if (run.directory)
            (void)m_temporary.removeSessionDirectory(*run.directory);
        co_return std::unexpected(std::move(error));
    }
    (void)cleanupTemporary();
    m_phase = SessionPhase::failed;
    co_return std::unexpected(std::move(error));
}

QCoro::Task<void> SessionCoordinator::abandon(FinishUnderWay finishing)
{
    const auto self = shared_from_this();
    // Everything is reset before the first wait, so an operation waiting meanwhile goes on with
    // its own copies, and a prepare that starts while the cancel is on its way finds the folder
    // of this conversation already gone (the removal is done here, ahead of the cancel, for
    // that reason).
    const std::optional<UsageReservation> reservation = m_reservation;
    const std::optional<QUuid> sessionID = m_sessionID;
    const bool discarded = finishing == FinishUnderWay::discarded;
    ++m_generation;
    if (discarded)
        m_discardedBefore = m_generation;
    returnToIdle();
    (void)cleanupTemporary();
    if (!reservation || !sessionID)
        co_return;
    // Before the wait: a run that ends during the cancel (a quit) leaves no conversation that
    // would count as cut short at the next launch.
    writeMark({ *sessionID, reservation->id,
        discarded ? ConversationMarks::State::discarded : ConversationMarks::State::reservationOpen });
    const bool closed = co_await m_authorization->cancel(reservation->id);
    if (!discarded && closed)
        settleMark(*sessionID, reservation->id, true);
}

std::expected<void, SessionCoordinatorError> SessionCoordinator::resetAfterCompletion()
{
    if (m_phase != SessionPhase::complete)
        return std::unexpected(SessionCoordinatorError::invalidState);
    returnToIdle();
    m_sessionDirectory.reset();
    return {};
}

std::expected<void, TemporaryStoreFailure> SessionCoordinator::cleanupTemporary()
{
    if (!m_sessionDirectory)
        return {};
    if (auto removed = m_temporary.removeSessionDirectory(*m_sessionDirectory); !removed)
        return removed;
    m_sessionDirectory.reset();
    return {};
}

void SessionCoordinator::settleMark(const QUuid& sessionID, const QUuid& reservationID, bool closed) const
{
    if (!closed) {
        writeMark({ sessionID, reservationID, ConversationMarks::State::reservationOpen });
        return;
    }
    if (!m_marks.remove(sessionID))
        qCWarning(coordinatorLog, "The mark of a conversation that ended could not be removed.");
}

void SessionCoordinator::writeMark(const ConversationMarks::Mark& mark) const
{
    if (!m_marks.write(mark))
        qCWarning(coordinatorLog, "The mark of a conversation could not be written.");
}

void SessionCoordinator::returnToIdle()
{
    m_phase = SessionPhase::idle;
    m_reservation.reset();
    m_sessionID.reset();
    m_mode = ConversationMode::conversation;
    m_turns.clear();
    m_provisional.reset();
}

} // namespace lumora
