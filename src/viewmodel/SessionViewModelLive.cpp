// The running conversation of the session view model: live turns and insights, the capture's
// end, the recording clock, pause and on-demand coaching.
#include "appcore/ServiceFailureCode.hpp"
#include "appcore/SessionCoordinator.hpp"
#include "audio/NativeAudioCapture.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "viewmodel/SessionViewModel.hpp"
#include "viewmodel/ViewModelLog.hpp"
#include "wire/AnalysisProviderResult.hpp"

#include <QLoggingCategory>
#include <algorithm>

namespace lumora {

namespace {

// A detected agenda step moves the room on only when the analysis is this sure of it.
constexpr double stepConfidence = 0.6;

double secondsBetween(const QDateTime& from, const QDateTime& to)
{
    return double(from.msecsTo(to)) / 1000.0;
}

int sideOf(qint64 speaker)
{
    const int remainder = int(speaker % 2);
    return remainder < 0 ? -remainder : remainder;
}

} // namespace

void SessionViewModel::handleLiveTurn(const SpeakerTurn& turn)
{
    // A turn the coordinator no longer takes (it stopped recording) is still shown.
    if (const auto coordinator = m_coordinator)
        (void)coordinator->acceptLiveTurn(turn);
    m_liveTurns.append(turn);
    emit liveTurnsChanged();
}

void SessionViewModel::handleLiveInsight(const AnalysisProviderResult& result)
{
    publish(m_liveSummary, std::optional(result.summary), &SessionViewModel::liveSummaryChanged);
    // Both lists take the analysis before either is told, so that the room, which reads both at
    // either signal, takes one analysis once and whole.
    const bool annotationsAdded = !result.annotations.isEmpty();
    const bool foulsAdded = result.fouls && !result.fouls->isEmpty();
    if (annotationsAdded)
        m_liveAnnotations.append(result.annotations);
    if (foulsAdded)
        m_liveFouls.append(*result.fouls);
    if (annotationsAdded)
        emit liveAnnotationsChanged();
    if (foulsAdded)
        emit liveFoulsChanged();
    publish(m_liveStepNote,
        result.adherenceNote && !result.adherenceNote->isEmpty() ? result.adherenceNote : std::nullopt,
        &SessionViewModel::liveStepNoteChanged);
    publish(m_liveNudges, result.nudges ? QStringList(*result.nudges) : QStringList(),
        &SessionViewModel::liveNudgesChanged);
    publish(m_liveCircularity, result.circularity, &SessionViewModel::liveCircularityChanged);
    publish(m_liveStartup, result.harshStartup, &SessionViewModel::liveStartupChanged);
    // One step at a time, forward only, however far ahead the analysis thinks the talk is.
    if (result.stepDetected && result.stepDetected->confidence >= stepConfidence
        && result.stepDetected->index > m_selectedAgendaStep)
        setSelectedAgendaStep(m_selectedAgendaStep + 1);
}

void SessionViewModel::handleCaptureEnded(bool successfully)
{
    // The granted length was reached; or the recording failed (disk full, encoder error), and
    // a room that records nothing must not go on looking as if it did.
    if (successfully ? m_isRecording : (m_isRecording || m_isPaused)) {
        if (!successfully)
            qCWarning(liveLog, "The recording ended with an error; the conversation is finished.");
        start(finishConversation());
    }
}

QCoro::Task<void> SessionViewModel::recordingClockTick()
{
    // Once a finish has begun the recorded length is settled; a tick that comes while the live
    // stream closes must not move it on.
    if (!m_startedAt || (!m_isRecording && !m_isPaused))
        co_return;
    const QDateTime now = m_environment.clock();
    const double paused = m_pauseStartedAt ? secondsBetween(*m_pauseStartedAt, now) : 0;
    const double active = secondsBetween(*m_startedAt, now) - m_totalPaused - paused;
    publish(m_elapsed, std::min(active, m_recordingMaximumSeconds), &SessionViewModel::elapsedChanged);
    // Only while it records: one kept paused after a finish that could not save it waits for
    // the user.
    if (m_isRecording && m_recordingMaximumSeconds <= m_elapsed)
        co_await finishConversation();
}

void SessionViewModel::togglePause()
{
    if ((!m_isRecording && !m_isPaused) || m_finishPressed)
        return;
    // The smoke mode records nothing, so there is no capture to pause or resume.
    if (!m_isPaused) {
        if (!m_smokeMode)
            audioCapture().pause();
        m_pauseStartedAt = m_environment.clock();
        publishRunningFlag(m_isPaused, true, &SessionViewModel::isPausedChanged);
        publishRunningFlag(m_isRecording, false, &SessionViewModel::isRecordingChanged);
        setStatusText(QStringLiteral("Paused"));
        return;
    }
    if (!m_smokeMode && !audioCapture().resume()) {
        reportFailure(QStringLiteral("Recording could not resume."));
        return;
    }
    if (m_pauseStartedAt)
        m_totalPaused += secondsBetween(*m_pauseStartedAt, m_environment.clock());
    m_pauseStartedAt.reset();
    publishRunningFlag(m_isPaused, false, &SessionViewModel::isPausedChanged);
    publishRunningFlag(m_isRecording, true, &SessionViewModel::isRecordingChanged);
    setStatusText(QStringLiteral("Recording visibly"));
}

std::optional<QString> SessionViewModel::liveNudge(qsizetype index) const
{
    if (index < 0 || index >= m_liveNudges.size())
        return std::nullopt;
    return m_liveNudges[index];
}

void SessionViewModel::requestContextualNudgeFor(int speaker)
{
    start(requestContextualNudge(speaker));
}

QCoro::Task<void> SessionViewModel::requestContextualNudge(qint64 speaker)
{
    if (m_sessionMode == ConversationMode::checkin)
        co_return;
    const int side = sideOf(speaker);
    if (m_nudgeLoadingSides.contains(side))
        co_return;
    if (!m_isRecording && !m_isPaused)
        co_return;
    auto setError = [this](int at, std::optional<QString> text) {
        SeatMap<QString> errors = m_nudgeErrors;
        if (text)
            errors.insert(at, *text);
        else
            errors.remove(at);
        publish(m_nudgeErrors, std::move(errors), &SessionViewModel::nudgeErrorsChanged);
    };
    if (m_liveTurns.isEmpty()) {
        setError(side, QStringLiteral("I need to hear a little of the conversation first."));
        co_return;
    }
    const auto client = m_client;
    if (!client || !m_liveReservationID) {
        setError(side, QStringLiteral("The coach is still getting ready. Try again in a moment."));
        co_return;
    }

    const QUuid requestID = QUuid::createUuid();
    const QList<SpeakerTurn> turns = m_liveTurns;
    const int step = m_selectedAgendaStep;
    const QUuid reservationID = *m_liveReservationID;
    m_nudgeRequestIDs.insert(side, requestID);
    QSet<int> loading = m_nudgeLoadingSides;
    loading.insert(side);
    publish(m_nudgeLoadingSides, std::move(loading), &SessionViewModel::nudgeLoadingSidesChanged);
    setError(side, std::nullopt);
    SeatMap<ConversationNudge> nudges = m_contextualNudges;
    nudges.remove(side);
    publish(m_contextualNudges, std::move(nudges), &SessionViewModel::contextualNudgesChanged);

    const auto alive = lifetime();
    const auto reply = co_await client->requestNudge(
        turns, LiveAnalysisContext(std::clamp(step, 0, 5)), side, reservationID);
    if (alive.expired())
        co_return;

    // Only the newest request of the side, for the conversation that still runs, may write.
    const bool isNewest = m_nudgeRequestIDs.value(side) == requestID;
    if (isNewest && m_liveReservationID == reservationID && (m_isRecording || m_isPaused)) {
        if (reply) {
            setError(side, std::nullopt);
            SeatMap<ConversationNudge> shown = m_contextualNudges;
            shown.insert(side, *reply);
            publish(m_contextualNudges, std::move(shown), &SessionViewModel::contextualNudgesChanged);
        } else {
            const auto* failure = reply.error().as<ControlPlaneFailure>();
            const QString code = failure ? ServiceFailureCode::of(*failure) : QStringLiteral("offline");
            qCCritical(liveLog, "Context coaching request failed: %s", qUtf8Printable(code));
            setError(side, QStringLiteral("I couldn\u2019t read the thread just now. Try again."));
        }
    }
    if (isNewest) {
        m_nudgeRequestIDs.remove(side);
        QSet<int> remaining = m_nudgeLoadingSides;
        remaining.remove(side);
        publish(m_nudgeLoadingSides, std::move(remaining), &SessionViewModel::nudgeLoadingSidesChanged);
    }
}

} // namespace lumora
