#include "RoomModelAdapter.hpp"

#include "viewmodel/SessionViewModel.hpp"

#include <algorithm>

namespace lumora {

namespace {

RoomModel::Readiness readinessOf(ConversationStartReadiness readiness)
{
    switch (readiness) {
    case ConversationStartReadiness::needsRecordingAgreement:
        return RoomModel::NeedsRecordingAgreement;
    case ConversationStartReadiness::needsSignIn:
        return RoomModel::NeedsSignIn;
    case ConversationStartReadiness::temporarilyUnavailable:
        return RoomModel::TemporarilyUnavailable;
    case ConversationStartReadiness::ready:
        break;
    }
    return RoomModel::Ready;
}

QString sessionIDOf(const std::optional<ConversationSessionState>& session)
{
    return session && session->sessionID ? session->sessionID->toString(QUuid::WithoutBraces) : QString();
}

} // namespace

RoomModelAdapter::RoomModelAdapter(SessionViewModel& viewModel, QObject* parent)
    : RoomModel(parent)
    , m_viewModel(viewModel)
    , m_readiness(readinessOf(viewModel.startReadiness()))
    , m_sessionID(sessionIDOf(viewModel.currentSession()))
{
    liveTurns()->replace(m_viewModel.liveTurns());
    using VM = SessionViewModel;
    const auto forward
        = [this](void (VM::*from)(), void (RoomModel::*to)()) { connect(&m_viewModel, from, this, to); };
    forward(&VM::isRecordingChanged, &RoomModel::isRecordingChanged);
    forward(&VM::isPausedChanged, &RoomModel::isPausedChanged);
    forward(&VM::isProcessingChanged, &RoomModel::isProcessingChanged);
    forward(&VM::isStartingConversationChanged, &RoomModel::isStartingConversationChanged);
    forward(&VM::isCheckinOpeningChanged, &RoomModel::isCheckinOpeningChanged);
    forward(&VM::elapsedChanged, &RoomModel::elapsedChanged);
    forward(&VM::errorMessageChanged, &RoomModel::errorMessageChanged);
    forward(&VM::statusTextChanged, &RoomModel::statusTextChanged);
    forward(&VM::liveAnnotationsChanged, &RoomModel::liveAnnotationsChanged);
    forward(&VM::liveFoulsChanged, &RoomModel::liveFoulsChanged);
    forward(&VM::selectedAgendaStepChanged, &RoomModel::selectedAgendaStepChanged);
    forward(&VM::liveStepNoteChanged, &RoomModel::liveStepNoteChanged);
    forward(&VM::liveStartupChanged, &RoomModel::liveStartupChanged);
    forward(&VM::liveCircularityChanged, &RoomModel::liveCircularityChanged);
    forward(&VM::sidesSwappedChanged, &RoomModel::sidesSwappedChanged);
    forward(&VM::participantNamesChanged, &RoomModel::participantNamesChanged);
    forward(&VM::liveNudgesChanged, &RoomModel::liveNudgesChanged);
    forward(&VM::contextualNudgesChanged, &RoomModel::contextualNudgesChanged);
    forward(&VM::nudgeLoadingSidesChanged, &RoomModel::nudgeLoadingSidesChanged);
    forward(&VM::nudgeErrorsChanged, &RoomModel::nudgeErrorsChanged);
    forward(&VM::checkinPackChanged, &RoomModel::checkinPackChanged);
    forward(&VM::checkinFlowChanged, &RoomModel::checkinFlowChanged);
    forward(&VM::isCheckinFinishedChanged, &RoomModel::isCheckinFinishedChanged);
    forward(&VM::isCheckinRunningChanged, &RoomModel::isCheckinRunningChanged);

    connect(
        &m_viewModel, &VM::liveTurnsChanged, this, [this] { liveTurns()->replace(m_viewModel.liveTurns()); });
    connect(&m_viewModel, &VM::currentSessionChanged, this, &RoomModelAdapter::followSession);
    connect(&m_viewModel, &VM::isProcessingChanged, this, &RoomModelAdapter::followFinish);
    connect(&m_viewModel, &VM::isStartingConversationChanged, this, [this] {
        if (m_viewModel.isStartingConversation())
            setFinishNotice(QString());
    });
    for (const auto signal : { &VM::recordingAgreementAcceptedChanged, &VM::accountChanged,
             &VM::isBusyChanged, &VM::isProcessingChanged, &VM::isStartingConversationChanged })
        connect(&m_viewModel, signal, this, &RoomModelAdapter::followReadiness);
}

void RoomModelAdapter::followReadiness()
{
    const Readiness now = readinessOf(m_viewModel.startReadiness());
    if (now == m_readiness)
        return;
    m_readiness = now;
    emit startReadinessChanged();
}

void RoomModelAdapter::followSession()
{
    QString now = sessionIDOf(m_viewModel.currentSession());
    if (now == m_sessionID)
        return;
    m_sessionID = std::move(now);
    emit currentSessionIDChanged();
}

void RoomModelAdapter::followFinish()
{
    if (m_viewModel.isProcessing()) {
        const auto& session = m_viewModel.currentSession();
        m_finishing = session ? session->sessionID : std::nullopt;
        setFinishNotice(QString());
        return;
    }
    const std::optional<QUuid> finished = std::exchange(m_finishing, std::nullopt);
    if (!finished)
        return;
    const auto& results = m_viewModel.results();
    const bool saved = std::any_of(results.cbegin(), results.cend(),
        [&](const DerivedSessionResult& result) { return result.id == *finished; });
    if (saved)
        setFinishNotice(m_viewModel.statusText());
}

void RoomModelAdapter::setFinishNotice(const QString& notice)
{
    if (notice == m_finishNotice)
        return;
    m_finishNotice = notice;
    emit finishNoticeChanged();
}

void RoomModelAdapter::clearFinishNotice()
{
    setFinishNotice(QString());
}

bool RoomModelAdapter::isRecording() const
{
    return m_viewModel.isRecording();
}
bool RoomModelAdapter::isPaused() const
{
    return m_viewModel.isPaused();
}
bool RoomModelAdapter::isProcessing() const
{
    return m_viewModel.isProcessing();
}
bool RoomModelAdapter::isStartingConversation() const
{
    return m_viewModel.isStartingConversation();
}
bool RoomModelAdapter::isCheckinOpening() const
{
    return m_viewModel.isCheckinOpening();
}
double RoomModelAdapter::elapsed() const
{
    return m_viewModel.elapsed();
}
RoomModel::Readiness RoomModelAdapter::startReadiness() const
{
    return m_readiness;
}
QString RoomModelAdapter::errorMessage() const
{
    return m_viewModel.errorMessage().value_or(QString());
}
void RoomModelAdapter::setErrorMessage(const QString& message)
{
    m_viewModel.setErrorMessage(message.isEmpty() ? std::nullopt : std::optional(message));
}
QString RoomModelAdapter::statusText() const
{
    return m_viewModel.statusText();
}
void RoomModelAdapter::setStatusText(const QString& text)
{
    m_viewModel.setStatusText(text);
}

const QList<BehaviorAnnotation>& RoomModelAdapter::liveAnnotations() const
{
    return m_viewModel.liveAnnotations();
}
const QList<ProcessFoulAnnotation>& RoomModelAdapter::liveFouls() const
{
    return m_viewModel.liveFouls();
}
int RoomModelAdapter::selectedAgendaStep() const
{
    return m_viewModel.selectedAgendaStep();
}
void RoomModelAdapter::setSelectedAgendaStep(int step)
{
    m_viewModel.setSelectedAgendaStep(step);
}
QString RoomModelAdapter::liveStepNote() const
{
    return m_viewModel.liveStepNote().value_or(QString());
}
std::optional<HarshStartupEvidence> RoomModelAdapter::liveStartup() const
{
    return m_viewModel.liveStartup();
}
std::optional<CircularityEvidence> RoomModelAdapter::liveCircularity() const
{
    return m_viewModel.liveCircularity();
}
void RoomModelAdapter::clearLiveCircularity()
{
    m_viewModel.setLiveCircularity(std::nullopt);
}
QString RoomModelAdapter::currentSessionID() const
{
    return m_sessionID;
}

bool RoomModelAdapter::sidesSwapped() const
{
    return m_viewModel.sidesSwapped();
}
void RoomModelAdapter::setSidesSwapped(bool swapped)
{
    m_viewModel.setSidesSwapped(swapped);
}
QStringList RoomModelAdapter::participantNames() const
{
    return { m_viewModel.participantName(0), m_viewModel.participantName(1) };
}
QString RoomModelAdapter::participantName(int speaker) const
{
    return m_viewModel.participantName(speaker);
}
std::optional<QString> RoomModelAdapter::liveNudge(int seat) const
{
    return m_viewModel.liveNudge(seat);
}
std::optional<ConversationNudge> RoomModelAdapter::contextualNudge(int seat) const
{
    const auto& nudges = m_viewModel.contextualNudges();
    const auto found = nudges.constFind(seat);
    return found == nudges.cend() ? std::nullopt : std::optional(*found);
}
bool RoomModelAdapter::isNudgeLoading(int seat) const
{
    return m_viewModel.nudgeLoadingSides().contains(seat);
}
QString RoomModelAdapter::nudgeError(int seat) const
{
    return m_viewModel.nudgeErrors().value(seat);
}

const std::optional<CheckinPack>& RoomModelAdapter::checkinPack() const
{
    return m_viewModel.checkinPack();
}
std::optional<CheckinFlow> RoomModelAdapter::checkinFlow() const
{
    return m_viewModel.checkinFlow();
}
bool RoomModelAdapter::isCheckinFinished() const
{
    return m_viewModel.isCheckinFinished();
}
bool RoomModelAdapter::isCheckinRunning() const
{
    return m_viewModel.isCheckinRunning();
}

void RoomModelAdapter::toggleRecording()
{
    m_viewModel.requestToggleRecording();
}
void RoomModelAdapter::finishConversation()
{
    m_viewModel.requestFinishConversation();
}
void RoomModelAdapter::togglePause()
{
    m_viewModel.togglePause();
}
void RoomModelAdapter::requestContextualNudge(int speaker)
{
    m_viewModel.requestContextualNudgeFor(speaker);
}
void RoomModelAdapter::openCheckin()
{
    m_viewModel.requestCheckin();
}
void RoomModelAdapter::closeCheckin()
{
    m_viewModel.closeCheckin();
}
void RoomModelAdapter::goBackCheckinSection()
{
    m_viewModel.goBackCheckinSection();
}
void RoomModelAdapter::advanceCheckinSection()
{
    m_viewModel.advanceCheckinSection();
}

} // namespace lumora
