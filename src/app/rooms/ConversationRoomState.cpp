#include "ConversationRoomState.hpp"

#include "AgendaNote.hpp"
#include "AgendaStepValue.hpp"
#include "PrimaryAction.hpp"
#include "RehearsalConversation.hpp"
#include "RoomStatus.hpp"
#include "StageLabels.hpp"
#include "display/DisplayFormats.hpp"
#include "domain/ConversationMethod.hpp"
#include "domain/ConversationPresentation.hpp"
#include "domain/ConversationSignals.hpp"
#include "domain/TurnGrouping.hpp"

#include <algorithm>
#include <limits>
#include <tuple>

namespace lumora {

namespace {

int clampedInt(qint64 value)
{
    return int(std::clamp<qint64>(value, 0, std::numeric_limits<int>::max()));
}

} // namespace

ConversationRoomState::ConversationRoomState(QObject* parent)
    : QObject(parent)
    , m_rows(new TranscriptRows(this))
    , m_agendaSteps(new AgendaStepRows(this))
{
    m_clock.setInterval(RehearsalConversation::tickMilliseconds);
    m_clock.setTimerType(Qt::PreciseTimer);
    connect(&m_clock, &QTimer::timeout, this, &ConversationRoomState::tickRehearsal);
    refresh();
}

void ConversationRoomState::setModel(RoomModel* model)
{
    if (m_model == model)
        return;
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    if (m_model) {
        connect(m_model->liveTurns(), &LiveTurnList::countChanged, this, [this] {
            if (!m_rehearsalActive)
                turnsChanged();
        });
        for (const auto signal : { &RoomModel::liveAnnotationsChanged, &RoomModel::liveFoulsChanged }) {
            connect(m_model, signal, this, [this] {
                if (!m_rehearsalActive) {
                    takeFindings();
                    refresh();
                }
            });
        }
        connect(m_model, &RoomModel::liveCircularityChanged, this, [this] {
            updateSignals();
            refresh();
        });
        connect(m_model, &RoomModel::currentSessionIDChanged, this, [this] {
            resetConversationInterventions();
            refresh();
        });
        for (const auto signal :
            { &RoomModel::isRecordingChanged, &RoomModel::isPausedChanged, &RoomModel::isProcessingChanged,
                &RoomModel::isStartingConversationChanged, &RoomModel::isCheckinOpeningChanged,
                &RoomModel::elapsedChanged, &RoomModel::selectedAgendaStepChanged,
                &RoomModel::liveStepNoteChanged, &RoomModel::liveStartupChanged,
                &RoomModel::sidesSwappedChanged, &RoomModel::participantNamesChanged,
                &RoomModel::liveNudgesChanged, &RoomModel::contextualNudgesChanged,
                &RoomModel::nudgeLoadingSidesChanged, &RoomModel::nudgeErrorsChanged,
                &RoomModel::errorMessageChanged, &RoomModel::finishNoticeChanged })
            connect(m_model, signal, this, &ConversationRoomState::refresh);
    }
    emit modelChanged();
    regroup();
    refresh();
}

QList<SpeakerTurn> ConversationRoomState::turns() const
{
    if (m_rehearsalActive)
        return DemoConversation::turns().first(RehearsalConversation::turnCount(m_rehearsalElapsed));
    return m_model ? m_model->turns() : QList<SpeakerTurn>();
}

QList<BehaviorAnnotation> ConversationRoomState::annotations() const
{
    if (m_rehearsalActive)
        return RehearsalConversation::annotationsOfFirst(
            RehearsalConversation::turnCount(m_rehearsalElapsed));
    return m_model ? m_model->liveAnnotations() : QList<BehaviorAnnotation>();
}

QList<ProcessFoulAnnotation> ConversationRoomState::fouls() const
{
    if (m_rehearsalActive)
        return RehearsalConversation::foulsOfFirst(RehearsalConversation::turnCount(m_rehearsalElapsed));
    return m_model ? m_model->liveFouls() : QList<ProcessFoulAnnotation>();
}

double ConversationRoomState::currentElapsed() const
{
    if (m_rehearsalActive)
        return m_rehearsalElapsed;
    return m_model ? m_model->elapsed() : 0.0;
}

void ConversationRoomState::regroup()
{
    const QList<ConversationTurn> groups = TurnGrouping::group(turns());
    m_speakerStats = TurnGrouping::stats(groups);
    m_rows->setGroups(groups);
    takeFindings();
}

void ConversationRoomState::takeFindings()
{
    RoomMoments moments { annotations(), fouls() };
    m_rows->setFindings(moments.annotations, moments.fouls);
    const ConversationPresentation::WarmHard counts
        = ConversationPresentation::warmHard(moments.annotations, moments.fouls, std::nullopt);
    assign(m_moments, std::move(moments), &ConversationRoomState::momentsChanged);
    assign(m_warmCount, clampedInt(counts.warm), &ConversationRoomState::warmCountChanged);
    assign(m_hardCount, clampedInt(counts.hard), &ConversationRoomState::hardCountChanged);
}

void ConversationRoomState::turnsChanged()
{
    regroup();
    updateSignals();
    refresh();
}

std::optional<LiveGuidance::FloorPrompt> ConversationRoomState::floorPrompt() const
{
    if (!m_model)
        return std::nullopt;
    return LiveGuidance::floorPrompt(turns(), currentElapsed(), m_model->isRecording(), m_firstFloorShownAt,
        m_turnExtensionUsed, m_dismissedFinalFloor);
}

PartnerCornerValues ConversationRoomState::cornerValues(int displaySeat) const
{
    PartnerCornerValues corner;
    if (!m_model)
        return corner;
    const int display = displaySeat == 0 ? 0 : 1;
    const int canonical = m_model->sidesSwapped() ? 1 - display : display;
    corner.displaySide = display;
    corner.canonicalSide = canonical;
    corner.name = m_speakerNames.value(display);
    corner.hasTurns = m_turnCount > 0;
    corner.active = m_active;
    corner.rehearsal = m_rehearsalActive;
    for (const SpeakerStats& stats : m_speakerStats) {
        if (stats.speaker != canonical)
            continue;
        corner.share = stats.share;
        corner.turns = clampedInt(stats.turns);
        corner.longestTurn = stats.longestTurn;
        break;
    }
    corner.suggestion = m_model->liveNudge(canonical).value_or(QString());
    const QList<ConversationAgendaStep>& agenda = ConversationMethod::agenda();
    corner.starter = agenda.at(std::clamp(m_model->selectedAgendaStep(), 0, int(agenda.size()) - 1)).starter;
    if (m_rehearsalActive)
        return corner;
    if (const std::optional<ConversationNudge> nudge = m_model->contextualNudge(canonical))
        corner.nudge = { nudge->title, nudge->guidance, nudge->suggestedWords };
    corner.nudgeLoading = m_model->isNudgeLoading(canonical);
    corner.nudgeError = m_model->nudgeError(canonical);
    return corner;
}

void ConversationRoomState::refresh()
{
    const bool hasModel = m_model != nullptr;
    const bool recording = hasModel && m_model->isRecording();
    const bool paused = hasModel && m_model->isPaused();
    const bool processing = hasModel && m_model->isProcessing();

    assign(m_rehearsalEnded, m_rehearsalActive && m_rehearsalElapsed >= RehearsalConversation::endedAt,
        &ConversationRoomState::rehearsalEndedChanged);
    assign(m_turnCount, int(turns().size()), &ConversationRoomState::turnCountChanged);
    assign(m_elapsed, currentElapsed(), &ConversationRoomState::elapsedChanged);
    assign(m_active, m_rehearsalActive || recording || paused, &ConversationRoomState::activeChanged);
    assign(m_status, RoomStatus::word(m_rehearsalActive, m_rehearsalElapsed, processing, paused, recording),
        &ConversationRoomState::statusChanged);
    assign(m_agendaNote,
        hasModel ? AgendaNote::note(
            m_rehearsalActive, m_model->selectedAgendaStep(), m_model->liveStartup(), m_model->liveStepNote())
                 : QString(),
        &ConversationRoomState::agendaNoteChanged);

    const QList<ConversationAgendaStep>& agenda = ConversationMethod::agenda();
    const int step = std::clamp(hasModel ? m_model->selectedAgendaStep() : 0, 0, int(agenda.size()) - 1);
    if (step != m_selectedStep) {
        QList<AgendaStepValue> steps;
        for (const ConversationAgendaStep& each : agenda) {
            const StepStage stage = stepStage(int(each.id), step);
            steps.append({ each.name, stage == PassedStep, stage == CurrentStep });
        }
        m_agendaSteps->setSteps(steps);
    }
    assign(m_selectedStep, step, &ConversationRoomState::selectedStepChanged);
    assign(m_stepGuidance, agenda.at(step).guidance, &ConversationRoomState::stepGuidanceChanged);
    assign(m_stepStarter, agenda.at(step).starter, &ConversationRoomState::stepStarterChanged);

    assign(m_showsPill, RoomStatus::showsPill(m_rehearsalActive, m_status),
        &ConversationRoomState::showsPillChanged);
    assign(m_pillLabel, RoomStatus::pillLabel(m_rehearsalActive, m_rehearsalElapsed, m_status),
        &ConversationRoomState::pillLabelChanged);
    assign(
        m_pillDotLive, RoomStatus::dotIsLive(m_active, m_status), &ConversationRoomState::pillDotLiveChanged);
    assign(m_showsClock, RoomStatus::showsClock(m_active, processing),
        &ConversationRoomState::showsClockChanged);
    assign(m_clockText, DisplayFormats::clock(m_elapsed), &ConversationRoomState::clockTextChanged);

    QStringList names { QStringLiteral("Alex"), QStringLiteral("Jordan") };
    if (!m_rehearsalActive)
        names = hasModel ? QStringList { m_model->participantName(0), m_model->participantName(1) }
                         : QStringList();
    assign(m_speakerNames, names, &ConversationRoomState::speakerNamesChanged);
    m_rows->setNames(m_speakerNames);
    m_rows->setSidesSwapped(hasModel && m_model->sidesSwapped());

    StageLabels::Flags flags;
    flags.rehearsalActive = m_rehearsalActive;
    flags.rehearsalEnded = m_rehearsalEnded;
    flags.isStartingConversation = hasModel && m_model->isStartingConversation();
    flags.isRecording = recording;
    flags.isPaused = paused;
    flags.isProcessing = processing;
    flags.isCheckinOpening = hasModel && m_model->isCheckinOpening();
    // What each button of the row does; the first row drawn is no change.
    const bool rowShown = !m_primaryLabel.isEmpty();
    const auto rowBefore = std::tuple(m_primaryLabel, m_showsEntryButtons, m_showsPause, m_pauseLabel);
    assign(m_primaryLabel, StageLabels::primaryLabel(flags), &ConversationRoomState::primaryLabelChanged);
    assign(m_primaryIcon, StageLabels::primaryIcon(flags), &ConversationRoomState::primaryIconChanged);
    assign(m_primaryAccessibilityLabel, StageLabels::primaryAccessibilityLabel(flags),
        &ConversationRoomState::primaryAccessibilityLabelChanged);
    assign(m_primaryEnabled, !flags.isStartingConversation, &ConversationRoomState::primaryEnabledChanged);
    assign(m_primaryActive, recording || m_rehearsalActive, &ConversationRoomState::primaryActiveChanged);
    assign(m_showsEntryButtons, StageLabels::showsEntryButtons(flags),
        &ConversationRoomState::showsEntryButtonsChanged);
    assign(m_checkinLabel, StageLabels::checkinLabel(flags), &ConversationRoomState::checkinLabelChanged);
    assign(m_checkinEnabled, !flags.isCheckinOpening, &ConversationRoomState::checkinEnabledChanged);
    assign(m_showsPause, StageLabels::showsPause(flags), &ConversationRoomState::showsPauseChanged);
    assign(m_pauseLabel, StageLabels::pauseLabel(flags), &ConversationRoomState::pauseLabelChanged);
    assign(m_pauseIcon, StageLabels::pauseIcon(flags), &ConversationRoomState::pauseIconChanged);
    if (rowShown && std::tuple(m_primaryLabel, m_showsEntryButtons, m_showsPause, m_pauseLabel) != rowBefore)
        m_pressGuard.rowChanged(PressGuard::Clock::now());
    assign(m_showsProcessingNote, processing, &ConversationRoomState::showsProcessingNoteChanged);
    const QString error = hasModel ? m_model->errorMessage() : QString();
    assign(m_bannerMessage, hasModel && error == m_model->finishNotice() ? QString() : error,
        &ConversationRoomState::bannerMessageChanged);
    assign(m_latestRowKey, StageLabels::latestRowKey(m_rows->groups()),
        &ConversationRoomState::latestRowKeyChanged);
    assign(m_arcDuration, std::max(m_elapsed, 1.0), &ConversationRoomState::arcDurationChanged);
    assign(m_leftCorner, cornerValues(0), &ConversationRoomState::leftCornerChanged);
    assign(m_rightCorner, cornerValues(1), &ConversationRoomState::rightCornerChanged);

    const std::optional<LiveGuidance::FloorPrompt> floor = floorPrompt();
    Overlay overlay = NoOverlay;
    switch (LiveGuidance::overlay(m_showBreak, m_showCircularity, floor.has_value())) {
    case LiveGuidance::Overlay::pause:
        overlay = BreakOverlay;
        break;
    case LiveGuidance::Overlay::cycle:
        overlay = CycleOverlay;
        break;
    case LiveGuidance::Overlay::floor:
        overlay = FloorOverlay;
        break;
    case LiveGuidance::Overlay::none:
        break;
    }
    assign(m_overlay, overlay, &ConversationRoomState::overlayChanged);
    // The extra minute counts from when the two-minute prompt first came on screen.
    if (overlay == FloorOverlay && !floor->final && !m_firstFloorShownAt)
        m_firstFloorShownAt = currentElapsed();
    if (floor) {
        assign(
            m_floorName, LiveGuidance::floorName(floor->speaker), &ConversationRoomState::floorNameChanged);
        assign(m_floorFinal, floor->final, &ConversationRoomState::floorFinalChanged);
    }
    const std::optional<CircularityEvidence> evidence = hasModel ? m_model->liveCircularity() : std::nullopt;
    assign(m_cycleRationale, LiveGuidance::cycleRationale(evidence),
        &ConversationRoomState::cycleRationaleChanged);
    assign(m_cycleOpening, LiveGuidance::cycleOpening(evidence), &ConversationRoomState::cycleOpeningChanged);
}

ConversationRoomState::StepStage ConversationRoomState::stepStage(int step, int selected)
{
    if (step < selected)
        return PassedStep;
    return step == selected ? CurrentStep : UpcomingStep;
}

void ConversationRoomState::selectStep(int step)
{
    if (m_model)
        m_model->setSelectedAgendaStep(step);
}

void ConversationRoomState::appear()
{
    regroup();
    assign(m_roomHasAppeared, true, &ConversationRoomState::roomHasAppearedChanged);
    refresh();
}

void ConversationRoomState::disappear()
{
    if (m_model && !m_model->isRecording() && !m_model->isPaused())
        m_model->setSelectedAgendaStep(0);
}

void ConversationRoomState::primaryAction()
{
    if (!m_model)
        return;
    const PrimaryAction::Step step = PrimaryAction::choose(
        m_rehearsalActive, m_model->isRecording(), m_model->isPaused(), m_model->startReadiness());
    switch (step) {
    case PrimaryAction::Step::endRehearsal:
        endRehearsal();
        return;
    case PrimaryAction::Step::openSetup:
        emit setupRequested();
        return;
    case PrimaryAction::Step::finish:
        emit finishing();
        break;
    case PrimaryAction::Step::notReady:
    case PrimaryAction::Step::start:
        break;
    }
    PrimaryAction::perform(step, *m_model);
}

bool ConversationRoomState::takesRowPress() const
{
    return m_pressGuard.takesPresses(PressGuard::Clock::now());
}

void ConversationRoomState::pointerOverRow(QPointF scenePosition)
{
    m_pressGuard.pointerAt(scenePosition);
}

void ConversationRoomState::startCheckin()
{
    if (m_model)
        m_model->openCheckin();
}

void ConversationRoomState::requestNudge(int side)
{
    if (m_model && !m_rehearsalActive)
        m_model->requestContextualNudge(side);
}

void ConversationRoomState::swapSides()
{
    if (m_model)
        m_model->setSidesSwapped(!m_model->sidesSwapped());
}

void ConversationRoomState::revealThreadMessage()
{
    assign(m_showThreadMessage, true, &ConversationRoomState::showThreadMessageChanged);
}

void ConversationRoomState::setTranscriptFollowsLatest(bool follows)
{
    assign(m_transcriptFollowsLatest, follows, &ConversationRoomState::transcriptFollowsLatestChanged);
}

void ConversationRoomState::closeThreadMessage()
{
    assign(m_showThreadMessage, false, &ConversationRoomState::showThreadMessageChanged);
}

void ConversationRoomState::dismissError()
{
    if (m_model)
        m_model->setErrorMessage(QString());
}

void ConversationRoomState::setRehearsalElapsed(double elapsed)
{
    assign(m_rehearsalElapsed, elapsed, &ConversationRoomState::rehearsalElapsedChanged);
}

void ConversationRoomState::toggleRehearsal()
{
    if (m_rehearsalActive) {
        endRehearsal();
        return;
    }
    assign(m_rehearsalActive, true, &ConversationRoomState::rehearsalActiveChanged);
    setRehearsalElapsed(0);
    assign(m_rehearsalPaused, false, &ConversationRoomState::rehearsalPausedChanged);
    resetConversationInterventions();
    if (m_model)
        m_model->setSelectedAgendaStep(0);
    regroup();
    m_clock.start();
    refresh();
}

void ConversationRoomState::endRehearsal()
{
    m_clock.stop();
    assign(m_rehearsalActive, false, &ConversationRoomState::rehearsalActiveChanged);
    assign(m_rehearsalPaused, false, &ConversationRoomState::rehearsalPausedChanged);
    setRehearsalElapsed(0);
    resetConversationInterventions();
    if (m_model)
        m_model->setSelectedAgendaStep(0);
    regroup();
    refresh();
}

void ConversationRoomState::tickRehearsal()
{
    if (!m_rehearsalActive || m_rehearsalPaused || m_rehearsalElapsed >= RehearsalConversation::endOfScript)
        return;
    const qsizetype before = RehearsalConversation::turnCount(m_rehearsalElapsed);
    setRehearsalElapsed(RehearsalConversation::advanced(m_rehearsalElapsed));
    if (m_model)
        m_model->setSelectedAgendaStep(RehearsalConversation::step(m_rehearsalElapsed));
    if (m_rehearsalElapsed >= RehearsalConversation::breakAt && !m_showedBreak) {
        assign(m_showedBreak, true, &ConversationRoomState::showedBreakChanged);
        assign(m_showBreak, true, &ConversationRoomState::showBreakChanged);
        assign(m_rehearsalPaused, true, &ConversationRoomState::rehearsalPausedChanged);
    }
    if (RehearsalConversation::turnCount(m_rehearsalElapsed) != before)
        turnsChanged();
    else
        refresh();
}

void ConversationRoomState::updateSignals()
{
    if (!m_model || !m_model->isRecording())
        return;
    const QList<SpeakerTurn> shown = turns();
    const qint64 settled = shown.size();
    const double now = currentElapsed();
    if (m_breakSuppressedUntil <= now && ConversationSignals::isFlooding(annotations(), fouls(), settled))
        assign(m_showBreak, true, &ConversationRoomState::showBreakChanged);
    const LiveGuidance::CycleSignal cycle = LiveGuidance::cycleSignal(
        m_model->liveCircularity(), ConversationSignals::isLikelyCircular(shown, now));
    const bool fired = m_circularityGate.update(cycle.qualifying, cycle.confidence, settled, now);
    if (fired && !m_showBreak)
        assign(m_showCircularity, true, &ConversationRoomState::showCircularityChanged);
}

void ConversationRoomState::resetConversationInterventions()
{
    assign(m_showBreak, false, &ConversationRoomState::showBreakChanged);
    assign(m_showCircularity, false, &ConversationRoomState::showCircularityChanged);
    assign(m_showedBreak, false, &ConversationRoomState::showedBreakChanged);
    m_breakSuppressedUntil = 0;
    m_circularityGate.reset();
    assign(m_turnExtensionUsed, false, &ConversationRoomState::turnExtensionUsedChanged);
    assign(m_dismissedFinalFloor, false, &ConversationRoomState::dismissedFinalFloorChanged);
    m_firstFloorShownAt.reset();
}

void ConversationRoomState::keepGoing()
{
    assign(m_showBreak, false, &ConversationRoomState::showBreakChanged);
    m_breakSuppressedUntil = currentElapsed() + ConversationSignals::breakDismissCooldown;
    assign(m_rehearsalPaused, false, &ConversationRoomState::rehearsalPausedChanged);
    refresh();
}

void ConversationRoomState::finishFromBreak()
{
    assign(m_showBreak, false, &ConversationRoomState::showBreakChanged);
    m_breakSuppressedUntil = currentElapsed() + ConversationSignals::breakDismissCooldown;
    if (m_rehearsalActive)
        endRehearsal();
    else if (m_model)
        m_model->finishConversation();
    refresh();
}

void ConversationRoomState::dismissCircularity(bool acknowledged)
{
    assign(m_showCircularity, false, &ConversationRoomState::showCircularityChanged);
    m_circularityGate.dismiss(currentElapsed(), acknowledged);
    if (m_model)
        m_model->clearLiveCircularity();
    refresh();
}

void ConversationRoomState::dismissFloor(bool final)
{
    // Passing the floor at the final prompt uses up the first one too: it would come back
    // saying two minutes when three have gone.
    if (final)
        assign(m_dismissedFinalFloor, true, &ConversationRoomState::dismissedFinalFloorChanged);
    assign(m_turnExtensionUsed, true, &ConversationRoomState::turnExtensionUsedChanged);
    refresh();
}

} // namespace lumora
