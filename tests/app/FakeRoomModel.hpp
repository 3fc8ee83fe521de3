#pragma once

#include "PublishChange.hpp"
#include "RoomModel.hpp"

#include <QList>
#include <QMap>
#include <QSet>
#include <functional>

namespace lumora::testing {

// Stands in for the session the rooms read: the state the test sets, each change published
// by its own signal (the transcript through its rows), and each call counted. It reaches
// states no launch does: any flags together, findings, evidence and coaching at once.
class FakeRoomModel final : public RoomModel {
    Q_OBJECT

public:
    struct State {
        bool isRecording = false;
        bool isPaused = false;
        bool isProcessing = false;
        bool isStartingConversation = false;
        bool isCheckinOpening = false;
        double elapsed = 0;
        Readiness startReadiness = Ready;
        QString errorMessage;
        QString statusText;
        QString finishNotice;
        QList<SpeakerTurn> turns;
        QList<BehaviorAnnotation> annotations;
        QList<ProcessFoulAnnotation> fouls;
        int selectedAgendaStep = 0;
        QString liveStepNote;
        std::optional<HarshStartupEvidence> liveStartup;
        std::optional<CircularityEvidence> liveCircularity;
        QString currentSessionID;
        bool sidesSwapped = false;
        QStringList participantNames { QStringLiteral("Person 1"), QStringLiteral("Person 2") };
        QStringList liveNudges;
        QMap<int, ConversationNudge> contextualNudges;
        QSet<int> nudgeLoadingSides;
        QMap<int, QString> nudgeErrors;
        std::optional<CheckinPack> checkinPack;
        std::optional<CheckinFlow> checkinFlow;
        bool isCheckinFinished = false;
        bool isCheckinRunning = false;
    };

    State state;
    int toggles = 0;
    int finishes = 0;
    int pauses = 0;
    QList<int> nudgeRequests;
    int checkinOpens = 0;
    int checkinCloses = 0;
    int sectionsBack = 0;
    int sectionsAhead = 0;
    int circularityClears = 0;
    QList<int> agendaSteps;

    explicit FakeRoomModel(QObject* parent = nullptr)
        : RoomModel(parent)
    {
    }

    // Changes the state as the view model would, publishing what changed.
    void update(const std::function<void(State&)>& change)
    {
        const State before = state;
        change(state);
        publish(before);
    }
    // One more utterance of the live transcript.
    void say(qint64 speaker, double start, double end, const QString& text)
    {
        update([&](State& s) { s.turns.append(SpeakerTurn(speaker, start, end, text)); });
    }
    // Four contemptuous moments on both sides and an exchange of two turns from `at`: flooding,
    // which raises the break.
    void flood(double at)
    {
        update([](State& s) {
            for (qint64 i = 0; i < 4; ++i)
                s.annotations.append(
                    BehaviorAnnotation(s.turns.size() + (i % 2), i % 2, BehaviorCode::contempt, 0.9, 0, 1));
        });
        say(0, at, at + 1, QStringLiteral("You never listen"));
        say(1, at + 1, at + 2, QStringLiteral("You always say that"));
    }
    // Turns of the two seats in words that never repeat, eight seconds apart from 0, until
    // `enough` holds (eleven at the most): with circularity evidence in the state, the repeated
    // cycle comes up on the way.
    void sayDistinctTurns(const std::function<bool()>& enough)
    {
        const char* lines[] = { "apple river stone", "cloud marble tiger", "garden violin candle",
            "window forest pepper", "rocket meadow lantern", "harbor pencil orchid", "silver canyon ribbon",
            "dragon button island", "castle feather mirror", "thunder saddle lemon",
            "planet whisker barrel" };
        for (int n = 0; n < 11 && !enough(); ++n)
            say(n % 2, n * 8, n * 8 + 6, QString::fromLatin1(lines[n]));
    }

    bool isRecording() const override { return state.isRecording; }
    bool isPaused() const override { return state.isPaused; }
    bool isProcessing() const override { return state.isProcessing; }
    bool isStartingConversation() const override { return state.isStartingConversation; }
    bool isCheckinOpening() const override { return state.isCheckinOpening; }
    double elapsed() const override { return state.elapsed; }
    Readiness startReadiness() const override { return state.startReadiness; }
    QString errorMessage() const override { return state.errorMessage; }
    void setErrorMessage(const QString& message) override
    {
        update([&](State& s) { s.errorMessage = message; });
    }
    QString statusText() const override { return state.statusText; }
    void setStatusText(const QString& text) override
    {
        update([&](State& s) { s.statusText = text; });
    }
    QString finishNotice() const override { return state.finishNotice; }
    const QList<BehaviorAnnotation>& liveAnnotations() const override { return state.annotations; }
    const QList<ProcessFoulAnnotation>& liveFouls() const override { return state.fouls; }
    int selectedAgendaStep() const override { return state.selectedAgendaStep; }
    void setSelectedAgendaStep(int step) override
    {
        agendaSteps.append(step);
        update([&](State& s) { s.selectedAgendaStep = step; });
    }
    QString liveStepNote() const override { return state.liveStepNote; }
    std::optional<HarshStartupEvidence> liveStartup() const override { return state.liveStartup; }
    std::optional<CircularityEvidence> liveCircularity() const override { return state.liveCircularity; }
    void clearLiveCircularity() override
    {
        ++circularityClears;
        update([](State& s) { s.liveCircularity.reset(); });
    }
    QString currentSessionID() const override { return state.currentSessionID; }
    bool sidesSwapped() const override { return state.sidesSwapped; }
    void setSidesSwapped(bool swapped) override
    {
        update([&](State& s) { s.sidesSwapped = swapped; });
    }
    QStringList participantNames() const override { return state.participantNames; }
    QString participantName(int speaker) const override
    {
        const int seat = speaker < 0 ? -(speaker % 2) : speaker % 2;
        return state.participantNames.value(seat, QStringLiteral("Person %1").arg(seat + 1));
    }
    std::optional<QString> liveNudge(int seat) const override
    {
        if (seat < 0 || seat >= state.liveNudges.size())
            return std::nullopt;
        return state.liveNudges.at(seat);
    }
    std::optional<ConversationNudge> contextualNudge(int seat) const override
    {
        const auto found = state.contextualNudges.constFind(seat);
        return found == state.contextualNudges.cend() ? std::nullopt : std::optional(*found);
    }
    bool isNudgeLoading(int seat) const override { return state.nudgeLoadingSides.contains(seat); }
    QString nudgeError(int seat) const override { return state.nudgeErrors.value(seat); }
    const std::optional<CheckinPack>& checkinPack() const override { return state.checkinPack; }
    std::optional<CheckinFlow> checkinFlow() const override { return state.checkinFlow; }
    bool isCheckinFinished() const override { return state.isCheckinFinished; }
    bool isCheckinRunning() const override { return state.isCheckinRunning; }

    void toggleRecording() override { ++toggles; }
    void finishConversation() override { ++finishes; }
    void togglePause() override { ++pauses; }
    void requestContextualNudge(int speaker) override { nudgeRequests.append(speaker); }
    void openCheckin() override { ++checkinOpens; }
    void closeCheckin() override { ++checkinCloses; }
    void goBackCheckinSection() override { ++sectionsBack; }
    void advanceCheckinSection() override { ++sectionsAhead; }

protected:
    void clearFinishNotice() override
    {
        update([](State& s) { s.finishNotice.clear(); });
    }

private:
    void publish(const State& before)
    {
        publishChange(this, before.isRecording, state.isRecording, &RoomModel::isRecordingChanged);
        publishChange(this, before.isPaused, state.isPaused, &RoomModel::isPausedChanged);
        publishChange(this, before.isProcessing, state.isProcessing, &RoomModel::isProcessingChanged);
        publishChange(this, before.isStartingConversation, state.isStartingConversation,
            &RoomModel::isStartingConversationChanged);
        publishChange(
            this, before.isCheckinOpening, state.isCheckinOpening, &RoomModel::isCheckinOpeningChanged);
        publishChange(this, before.elapsed, state.elapsed, &RoomModel::elapsedChanged);
        publishChange(this, before.startReadiness, state.startReadiness, &RoomModel::startReadinessChanged);
        publishChange(this, before.errorMessage, state.errorMessage, &RoomModel::errorMessageChanged);
        publishChange(this, before.statusText, state.statusText, &RoomModel::statusTextChanged);
        publishChange(this, before.finishNotice, state.finishNotice, &RoomModel::finishNoticeChanged);
        publishChange(this, before.annotations, state.annotations, &RoomModel::liveAnnotationsChanged);
        publishChange(this, before.fouls, state.fouls, &RoomModel::liveFoulsChanged);
        publishChange(
            this, before.selectedAgendaStep, state.selectedAgendaStep, &RoomModel::selectedAgendaStepChanged);
        publishChange(this, before.liveStepNote, state.liveStepNote, &RoomModel::liveStepNoteChanged);
        publishChange(this, before.liveStartup, state.liveStartup, &RoomModel::liveStartupChanged);
        publishChange(
            this, before.liveCircularity, state.liveCircularity, &RoomModel::liveCircularityChanged);
        publishChange(
            this, before.currentSessionID, state.currentSessionID, &RoomModel::currentSessionIDChanged);
        publishChange(this, before.sidesSwapped, state.sidesSwapped, &RoomModel::sidesSwappedChanged);
        publishChange(
            this, before.participantNames, state.participantNames, &RoomModel::participantNamesChanged);
        publishChange(this, before.liveNudges, state.liveNudges, &RoomModel::liveNudgesChanged);
        publishChange(
            this, before.contextualNudges, state.contextualNudges, &RoomModel::contextualNudgesChanged);
        publishChange(
            this, before.nudgeLoadingSides, state.nudgeLoadingSides, &RoomModel::nudgeLoadingSidesChanged);
        publishChange(this, before.nudgeErrors, state.nudgeErrors, &RoomModel::nudgeErrorsChanged);
        publishChange(this, before.checkinPack, state.checkinPack, &RoomModel::checkinPackChanged);
        publishChange(this, before.checkinFlow, state.checkinFlow, &RoomModel::checkinFlowChanged);
        publishChange(
            this, before.isCheckinFinished, state.isCheckinFinished, &RoomModel::isCheckinFinishedChanged);
        publishChange(
            this, before.isCheckinRunning, state.isCheckinRunning, &RoomModel::isCheckinRunningChanged);
        // The transcript last: a room regroups on it with the rest already in place.
        if (before.turns != state.turns)
            liveTurns()->replace(state.turns);
    }
};

} // namespace lumora::testing
