#include "CheckinRoomState.hpp"

#include "CheckinPanelTexts.hpp"
#include "PrimaryAction.hpp"
#include "RoomStatus.hpp"
#include "StageLabels.hpp"
#include "display/DisplayFormats.hpp"
#include "domain/CheckinSection.hpp"
#include "domain/TurnGrouping.hpp"
#include "theme/ThemeFonts.hpp"

namespace lumora {

namespace {

struct PrimaryButton {
    QString label;
    QString icon;
};

PrimaryButton primaryButtonOf(const RoomModel& model)
{
    if (model.isStartingConversation())
        return { QStringLiteral("Starting…"), QStringLiteral("ellipsis") };
    if (model.isProcessing())
        return { QStringLiteral("Saving…"), QStringLiteral("ellipsis") };
    if (model.isRecording() || model.isPaused())
        return { QStringLiteral("Finish check-in"), QStringLiteral("stop.fill") };
    return { QStringLiteral("Start check-in"), QStringLiteral("waveform") };
}

} // namespace

CheckinRoomState::CheckinRoomState(QObject* parent)
    : QObject(parent)
    , m_rows(new CheckinTranscriptRows(this))
{
    refresh();
}

void CheckinRoomState::setModel(RoomModel* model)
{
    if (m_model == model)
        return;
    if (m_model) {
        disconnect(m_model, nullptr, this, nullptr);
        disconnect(m_model->liveTurns(), nullptr, this, nullptr);
    }
    m_model = model;
    if (m_model) {
        connect(m_model->liveTurns(), &LiveTurnList::countChanged, this, [this] {
            if (m_shown)
                regroup();
        });
        connect(m_model, &RoomModel::participantNamesChanged, this, &CheckinRoomState::takeNames);
        connect(m_model, &RoomModel::sidesSwappedChanged, this, &CheckinRoomState::takeNames);
        for (const auto signal : { &RoomModel::isRecordingChanged, &RoomModel::isPausedChanged,
                 &RoomModel::isProcessingChanged, &RoomModel::isStartingConversationChanged,
                 &RoomModel::elapsedChanged, &RoomModel::checkinPackChanged, &RoomModel::checkinFlowChanged,
                 &RoomModel::isCheckinFinishedChanged, &RoomModel::isCheckinRunningChanged,
                 &RoomModel::errorMessageChanged, &RoomModel::finishNoticeChanged })
            connect(m_model, signal, this, &CheckinRoomState::refresh);
    }
    emit modelChanged();
    takeNames();
    refresh();
}

void CheckinRoomState::appear()
{
    m_shown = true;
    regroup();
}

void CheckinRoomState::disappear()
{
    m_shown = false;
}

void CheckinRoomState::regroup()
{
    if (m_model)
        m_rows->setGroups(TurnGrouping::group(m_model->turns()));
    refresh();
}

void CheckinRoomState::takeNames()
{
    if (!m_model)
        return;
    m_rows->setSeatNames(m_model->participantNames());
    m_rows->setSidesSwapped(m_model->sidesSwapped());
}

void CheckinRoomState::primaryAction()
{
    if (!m_model)
        return;
    const PrimaryAction::Step step = PrimaryAction::choose(
        false, m_model->isRecording(), m_model->isPaused(), m_model->startReadiness());
    if (step == PrimaryAction::Step::openSetup)
        emit setupRequested();
    else
        PrimaryAction::perform(step, *m_model);
}

void CheckinRoomState::dismissNotice()
{
    if (m_model)
        m_model->setErrorMessage(QString());
}

void CheckinRoomState::closeSaved()
{
    if (!m_model)
        return;
    m_model->dismissFinishNotice();
    m_model->closeCheckin();
}

QString CheckinRoomState::savedTitle()
{
    return CheckinPanelTexts::savedTitle();
}

void CheckinRoomState::refresh()
{
    const RoomModel* model = m_model;
    const bool recording = model && model->isRecording();
    const bool paused = model && model->isPaused();
    const bool processing = model && model->isProcessing();
    const bool live = recording || paused;
    const std::optional<CheckinPack> noPack;
    const std::optional<CheckinPack>& pack = model ? model->checkinPack() : noPack;
    const std::optional<CheckinFlow> flow = model ? model->checkinFlow() : std::nullopt;

    const QString week = pack ? DisplayFormats::weekLabel(pack->week).value_or(QStringLiteral("this week"))
                              : QStringLiteral("this week");
    assign(m_weekText, ThemeFonts::upperCased(week), &CheckinRoomState::weekTextChanged);
    const QString status = RoomStatus::word(false, 0, processing, paused, recording);
    assign(m_showsPill, !status.isEmpty(), &CheckinRoomState::showsPillChanged);
    assign(m_pillLabel, RoomStatus::pillLabel(false, 0, status), &CheckinRoomState::pillLabelChanged);
    assign(m_dotLive, RoomStatus::dotIsLive(live, status), &CheckinRoomState::dotLiveChanged);
    assign(m_showsClock, RoomStatus::showsClock(live, processing), &CheckinRoomState::showsClockChanged);
    assign(m_clockText, DisplayFormats::clock(model ? model->elapsed() : 0),
        &CheckinRoomState::clockTextChanged);
    // Not while a start is under way either: the recording it begins belongs to the check-in.
    assign(m_showsLeave,
        model && !model->isStartingConversation() && !model->isCheckinRunning()
            && !model->isCheckinFinished(),
        &CheckinRoomState::showsLeaveChanged);

    const qint64 index = flow ? flow->index() : 0;
    const CheckinSection* section
        = pack && flow && index >= 0 && index < pack->sections.size() ? &pack->sections.at(index) : nullptr;
    assign(m_sectionIndex, int(index), &CheckinRoomState::sectionIndexChanged);
    const CheckinSectionValue current = section ? CheckinSectionValue::of(*section) : CheckinSectionValue();
    if (m_hasCurrent != (section != nullptr) || !(m_current == current)) {
        m_hasCurrent = section != nullptr;
        m_current = current;
        emit currentChanged();
    }
    assign(m_total, pack ? int(pack->sections.size()) : 0, &CheckinRoomState::totalChanged);
    const bool timed = live && flow;
    const double elapsed = model ? model->elapsed() : 0;
    const std::optional<double> inSection
        = timed ? std::optional(flow->elapsedInSection(elapsed)) : std::nullopt;
    assign(m_isTimed, timed, &CheckinRoomState::isTimedChanged);
    assign(m_elapsedInSection, inSection.value_or(0), &CheckinRoomState::elapsedInSectionChanged);
    assign(m_isPastSuggestion, timed && section && flow->isPastSuggestion(*section, elapsed),
        &CheckinRoomState::isPastSuggestionChanged);
    assign(m_pacingText,
        section ? CheckinPanelTexts::pacingText(section->suggestedMinutes, inSection) : QString(),
        &CheckinRoomState::pacingTextChanged);
    assign(m_canGoBack, flow && !flow->isFirst(), &CheckinRoomState::canGoBackChanged);
    assign(m_canGoNext, flow && !flow->isLast(), &CheckinRoomState::canGoNextChanged);
    const QString note = pack ? pack->note.value_or(QString()) : QString();
    assign(m_showsPackNote, !note.isEmpty() && flow && flow->index() == 0,
        &CheckinRoomState::showsPackNoteChanged);
    assign(m_packNote, note, &CheckinRoomState::packNoteChanged);
    assign(m_showsListening, live && m_rows->count() == 0, &CheckinRoomState::showsListeningChanged);
    const bool finished = model && model->isCheckinFinished();
    const QString finishNotice = finished ? model->finishNotice() : QString();
    assign(
        m_savedNotice, CheckinPanelTexts::savedNotice(finishNotice), &CheckinRoomState::savedNoticeChanged);
    const QString error = model ? model->errorMessage() : QString();
    assign(m_noticeMessage, !finishNotice.isEmpty() && error == finishNotice ? QString() : error,
        &CheckinRoomState::noticeMessageChanged);

    const PrimaryButton primary = model ? primaryButtonOf(*model) : PrimaryButton();
    assign(m_primaryLabel, primary.label, &CheckinRoomState::primaryLabelChanged);
    assign(m_primaryIcon, primary.icon, &CheckinRoomState::primaryIconChanged);
    assign(m_primaryEnabled, !model || !(model->isStartingConversation() || processing),
        &CheckinRoomState::primaryEnabledChanged);
    const StageLabels::Flags flags { .isRecording = recording, .isPaused = paused };
    assign(m_showsPause, StageLabels::showsPause(flags), &CheckinRoomState::showsPauseChanged);
    assign(m_pauseLabel, StageLabels::pauseLabel(flags), &CheckinRoomState::pauseLabelChanged);
    assign(m_pauseIcon, StageLabels::pauseIcon(flags), &CheckinRoomState::pauseIconChanged);
}

} // namespace lumora
