#include "ConversationRoomState.hpp"

#include "AgendaStepValue.hpp"
#include "FakeRoomModel.hpp"
#include "RehearsalConversation.hpp"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace lumora {
namespace {

// A room over the fake model, as the room's QML makes it.
struct Room {
    Room()
    {
        state.setModel(&model);
        state.appear();
    }
    testing::FakeRoomModel model;
    ConversationRoomState state;
};

TEST(ConversationRoomState, AFreshRoomShowsNothingRunningAndWaitsToStart)
{
    testing::FakeRoomModel model;
    ConversationRoomState state;
    QAbstractItemModelTester tester(state.rows(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    state.setModel(&model);
    EXPECT_FALSE(state.roomHasAppeared());
    state.appear();

    EXPECT_TRUE(state.roomHasAppeared());
    EXPECT_FALSE(state.rehearsalActive());
    EXPECT_EQ(state.rehearsalElapsed(), 0);
    EXPECT_FALSE(
        state.rehearsalPaused() || state.showedBreak() || state.showBreak() || state.showCircularity());
    EXPECT_FALSE(state.turnExtensionUsed() || state.dismissedFinalFloor() || state.showThreadMessage());
    EXPECT_EQ(state.breakSuppressedUntil(), 0);
    EXPECT_EQ(state.circularityGate(), CircularityGate {});
    EXPECT_TRUE(state.groupedTurns().isEmpty());
    EXPECT_TRUE(state.speakerStats().isEmpty());
    EXPECT_EQ(state.overlay(), ConversationRoomState::NoOverlay);
    EXPECT_FALSE(state.showsPill());
    EXPECT_EQ(state.primaryLabel(), "Start conversation");
    EXPECT_TRUE(state.showsEntryButtons());
    EXPECT_FALSE(state.isClockRunning()) << "the clock runs only under a rehearsal";

    // The agenda's six steps: the first current, the rest ahead; then, two steps on, two passed,
    // changed in place.
    QAbstractItemModelTester stepsTester(
        state.agendaSteps(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(state.agendaSteps(), &QAbstractItemModel::modelReset);
    const auto steps = [&] { return state.agendaSteps()->steps(); };
    QList<AgendaStepValue> agenda = steps();
    ASSERT_EQ(agenda.size(), 6);
    EXPECT_EQ(agenda.first(), (AgendaStepValue { "Arrive regulated", false, true }));
    EXPECT_EQ(agenda.last(), (AgendaStepValue { "Turn toward", false, false }));
    model.update([](auto& s) { s.selectedAgendaStep = 2; });
    agenda = steps();
    ASSERT_EQ(agenda.size(), 6);
    EXPECT_TRUE(agenda[0].passed && agenda[1].passed && agenda[2].current);
    EXPECT_FALSE(agenda[3].passed || agenda[3].current);
    EXPECT_EQ(resets.count(), 0);
}

// Each utterance regroups the rows and the statistics, with no reset of the rows.
TEST(ConversationRoomState, EveryNewTurnRegroupsTheRowsAndStatistics)
{
    Room room;
    QAbstractItemModelTester tester(room.state.rows(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(room.state.rows(), &QAbstractItemModel::modelReset);
    room.model.update([](auto& s) { s.isRecording = true; });
    room.model.say(0, 0, 10, "We keep circling the same thing");
    room.model.say(1, 10, 14, "I know");
    room.model.say(1, 14, 30, "And I want us to stop doing it tonight please");
    EXPECT_EQ(room.state.turnCount(), 3);
    ASSERT_EQ(room.state.groupedTurns().size(), 2);
    ASSERT_EQ(room.state.speakerStats().size(), 2);
    EXPECT_DOUBLE_EQ(room.state.speakerStats().at(1).talkTime, 20);
    EXPECT_EQ(room.state.latestRowKey(), "2-2");
    EXPECT_EQ(room.state.leftCorner().turns, 1);
    EXPECT_TRUE(room.state.rightCorner().hasTurns);
    EXPECT_EQ(resets.size(), 0);
}

} // namespace
} // namespace lumora

namespace lumora {
namespace {

// The corners show the seat's data by the canonical side and the names by the display seat;
// a rehearsal has its script's names and no coaching.
TEST(ConversationRoomState, CornersMapSeatsAndSidesAndARehearsalHasNoCoaching)
{
    Room room;
    room.model.update([](auto& s) {
        s.isRecording = true;
        s.participantNames = { "Ada", "Bob" };
        s.liveNudges = { "left nudge", "right nudge" };
        s.contextualNudges = { { 1, ConversationNudge { "Title", "Guide", "Words" } } };
        s.nudgeLoadingSides = { 0 };
        s.nudgeErrors = { { 1, "I couldn\u2019t read the thread just now. Try again." } };
        s.selectedAgendaStep = 9;
    });
    room.model.say(1, 0, 30, "Only the right seat has spoken so far");
    const struct {
        bool swapped;
        int display;
        int canonical;
        const char* name;
        bool hasStats;
        const char* suggestion;
        bool hasNudge, loading;
    } rows[] = {
        { false, 0, 0, "Ada", false, "left nudge", false, true },
        { false, 1, 1, "Bob", true, "right nudge", true, false },
        { true, 0, 1, "Ada", true, "right nudge", true, false },
        { true, 1, 0, "Bob", false, "left nudge", false, true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.swapped << row.display);
        room.model.update([&](auto& s) { s.sidesSwapped = row.swapped; });
        const PartnerCornerValues corner = room.state.cornerValues(row.display);
        EXPECT_EQ(corner.canonicalSide, row.canonical);
        EXPECT_EQ(corner.name, row.name);
        EXPECT_EQ(
            std::tuple(corner.share, corner.turns), row.hasStats ? std::tuple(1.0, 1) : std::tuple(0.0, 0));
        EXPECT_TRUE(corner.hasTurns) << "either partner's turn counts";
        EXPECT_EQ(corner.suggestion, row.suggestion);
        EXPECT_EQ(corner.nudge.title, row.hasNudge ? "Title" : "");
        EXPECT_EQ(corner.nudgeLoading, row.loading);
        EXPECT_EQ(corner.starter, "One way I can turn toward you this week is\u2026")
            << "the step is held at 5";
    }
    room.state.requestNudge(1);
    EXPECT_EQ(room.model.nudgeRequests, QList<int> { 1 });

    room.model.update([](auto& s) { s.isRecording = false; });
    room.state.toggleRehearsal();
    EXPECT_EQ(room.state.leftCorner().name, "Alex");
    EXPECT_EQ(room.state.rightCorner().name, "Jordan");
    EXPECT_FALSE(!room.state.rightCorner().nudge.isEmpty() || room.state.leftCorner().nudgeLoading);
    EXPECT_TRUE(room.state.rightCorner().nudgeError.isEmpty());
    EXPECT_FALSE(room.state.leftCorner().hasTurns) << "the script has not begun";
    room.state.requestNudge(0);
    EXPECT_EQ(room.model.nudgeRequests.size(), 1) << "no coaching during a rehearsal";
}

TEST(ConversationRoomState, ThePrimaryActionAndLeavingTheRoom)
{
    Room room;
    QSignalSpy setup(&room.state, &ConversationRoomState::setupRequested);
    room.model.update([](auto& s) { s.startReadiness = RoomModel::NeedsSignIn; });
    room.state.primaryAction();
    EXPECT_EQ(setup.size(), 1);
    room.model.update([](auto& s) { s.startReadiness = RoomModel::TemporarilyUnavailable; });
    room.state.primaryAction();
    const QString notReady
        = "Corvane is still getting the room ready. Try Start conversation again in a moment.";
    EXPECT_EQ(room.model.state.errorMessage, notReady);
    EXPECT_EQ(room.model.state.statusText, notReady);
    EXPECT_EQ(room.model.toggles, 0);
    room.model.update([](auto& s) { s.startReadiness = RoomModel::Ready; });
    room.state.primaryAction();
    EXPECT_EQ(room.model.toggles, 1);
    room.state.dismissError();
    EXPECT_EQ(room.model.state.errorMessage, QString());

    // Leaving while paused keeps the step; leaving when idle goes back to the first.
    room.model.update([](auto& s) {
        s.isPaused = true;
        s.selectedAgendaStep = 3;
    });
    room.state.disappear();
    EXPECT_EQ(room.model.state.selectedAgendaStep, 3);
    room.model.update([](auto& s) { s.isPaused = false; });
    room.state.disappear();
    EXPECT_EQ(room.model.state.selectedAgendaStep, 0);
}

// The rehearsal: 0.6 s a tick, the break at the first tick at or past 47 s, which holds the
// script until "Keep talking"; the clock stops at 143 s.
TEST(ConversationRoomState, TheRehearsalPlaysToItsBreakAndOnToItsEnd)
{
    Room room;
    QAbstractItemModelTester tester(room.state.rows(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    room.model.say(0, 0, 3, "A live turn from before");
    room.model.update([](auto& s) { s.selectedAgendaStep = 4; });
    room.state.toggleRehearsal();
    EXPECT_TRUE(room.state.rehearsalActive());
    EXPECT_TRUE(room.state.isClockRunning());
    EXPECT_EQ(room.model.state.selectedAgendaStep, 0);
    EXPECT_EQ(room.state.turnCount(), 0) << "the script shows no turn before its first ends";
    EXPECT_EQ(room.state.speakerNames(), (QStringList { "Alex", "Jordan" }));
    EXPECT_EQ(room.state.agendaNote(), "moved ahead with you");

    for (int tick = 0; tick < 79; ++tick)
        room.state.tickRehearsal();
    EXPECT_DOUBLE_EQ(room.state.rehearsalElapsed(), 47.4);
    EXPECT_TRUE(room.state.showBreak() && room.state.showedBreak() && room.state.rehearsalPaused());
    EXPECT_EQ(room.state.overlay(), ConversationRoomState::BreakOverlay);
    EXPECT_EQ(room.model.state.selectedAgendaStep, 1);
    EXPECT_EQ(room.state.turnCount(), 6);
    EXPECT_EQ(room.state.annotations().size(), 5);
    EXPECT_EQ(room.state.fouls().size(), 3);
    room.state.tickRehearsal();
    EXPECT_DOUBLE_EQ(room.state.rehearsalElapsed(), 47.4) << "held while paused";

    room.state.keepGoing();
    EXPECT_FALSE(room.state.showBreak() || room.state.rehearsalPaused());
    EXPECT_DOUBLE_EQ(room.state.breakSuppressedUntil(), 47.4 + 150);
    for (int tick = 79; tick < 239; ++tick)
        room.state.tickRehearsal();
    EXPECT_DOUBLE_EQ(room.state.rehearsalElapsed(), 143);
    EXPECT_TRUE(room.state.rehearsalEnded());
    EXPECT_EQ(room.state.primaryLabel(), "Close rehearsal");
    EXPECT_EQ(room.state.pillLabel(), "Rehearsal complete");
    EXPECT_EQ(room.state.turnCount(), 16);
    EXPECT_EQ(room.model.state.selectedAgendaStep, 5);
    const qsizetype written = room.model.agendaSteps.size();
    room.state.tickRehearsal();
    EXPECT_EQ(room.model.agendaSteps.size(), written) << "no step is written past the end";
    EXPECT_FALSE(room.state.showBreak()) << "one break only";

    room.state.primaryAction();
    EXPECT_FALSE(room.state.rehearsalActive());
    EXPECT_FALSE(room.state.isClockRunning());
    EXPECT_EQ(room.model.toggles, 0) << "ending a rehearsal never starts a recording";
    EXPECT_EQ(room.model.state.selectedAgendaStep, 0);
    EXPECT_EQ(room.state.turnCount(), 1) << "the live transcript is back";
    EXPECT_EQ(room.state.rows()->count(), 1);
}

TEST(ConversationRoomState, PauseAndSaveEndsARehearsalWithoutFinishingAnything)
{
    Room room;
    room.state.toggleRehearsal();
    for (int tick = 0; tick < 79; ++tick)
        room.state.tickRehearsal();
    ASSERT_TRUE(room.state.showBreak());
    room.state.finishFromBreak();
    EXPECT_FALSE(room.state.rehearsalActive() || room.state.showBreak());
    EXPECT_EQ(room.model.finishes, 0);

    // Ending the rehearsal while its break is up closes the break.
    room.state.toggleRehearsal();
    for (int tick = 0; tick < 79; ++tick)
        room.state.tickRehearsal();
    room.state.toggleRehearsal();
    EXPECT_FALSE(room.state.showBreak() || room.state.showedBreak());
    EXPECT_EQ(room.state.overlay(), ConversationRoomState::NoOverlay);

    // Outside a rehearsal it finishes the conversation.
    room.model.update([](auto& s) { s.isRecording = true; });
    room.state.finishFromBreak();
    EXPECT_EQ(room.model.finishes, 1);
}

// Four hard moments on two turns of the last seven, from both partners.
void flood(testing::FakeRoomModel& model, double at)
{
    model.update([at](auto& s) {
        s.elapsed = at;
        for (qint64 i = 0; i < 4; ++i)
            s.annotations.append(
                BehaviorAnnotation(s.turns.size() + (i % 2), i % 2, BehaviorCode::contempt, 0.9, at, at));
    });
    model.say(0, at, at + 1, "You never listen to me");
    model.say(1, at + 1, at + 2, "Because you always shout");
}

TEST(ConversationRoomState, FloodingRaisesTheBreakOnlyWhileRecordingAndOutsideItsCooldown)
{
    Room room;
    flood(room.model, 10);
    EXPECT_FALSE(room.state.showBreak()) << "not recording";

    room.model.update([](auto& s) { s.isRecording = true; });
    flood(room.model, 20);
    EXPECT_TRUE(room.state.showBreak());
    room.state.keepGoing();
    EXPECT_DOUBLE_EQ(room.state.breakSuppressedUntil(), 170);
    flood(room.model, 169);
    EXPECT_FALSE(room.state.showBreak()) << "within the cooldown";
    flood(room.model, 170);
    EXPECT_TRUE(room.state.showBreak()) << "the check runs when the cooldown ends exactly now";

    room.model.update([](auto& s) { s.annotations.clear(); });
    room.model.say(0, 171, 172, "Calmer now");
    EXPECT_TRUE(room.state.showBreak()) << "an update never lowers the break";

    room.model.update([](auto& s) { s.currentSessionID = "next"; });
    EXPECT_FALSE(room.state.showBreak());
    EXPECT_EQ(room.state.breakSuppressedUntil(), 0);
}

TEST(ConversationRoomState, TheRepeatedCyclePassesTheGateAndIsDismissedWithItsCooldown)
{
    Room room;
    room.model.update([](auto& s) {
        s.isRecording = true;
        s.elapsed = 100;
        s.liveCircularity = CircularityEvidence { true, 0.8, "dinner", "The same point, three times.", "" };
    });
    // Twelve turns that never repeat a word: only the provider's evidence finds the cycle.
    const char* lines[] = { "apple river stone", "cloud marble tiger", "garden violin candle",
        "window forest pepper", "rocket meadow lantern", "harbor pencil orchid", "silver canyon ribbon",
        "dragon button island", "castle feather mirror", "thunder saddle lemon", "planet whisker barrel",
        "shadow copper kettle" };
    for (int n = 0; n < 12; ++n)
        room.model.say(n % 2, n * 8, n * 8 + 6, lines[n]);
    EXPECT_TRUE(room.state.showCircularity());
    EXPECT_EQ(room.state.overlay(), ConversationRoomState::CycleOverlay);
    EXPECT_EQ(room.state.cycleRationale(), "The same point, three times.");
    EXPECT_EQ(room.state.cycleOpening(),
        "\u201cUnderneath this, what I\u2019m really trying to tell you is\u2026\u201d");

    room.state.dismissCircularity(true);
    EXPECT_FALSE(room.state.showCircularity());
    EXPECT_EQ(room.state.circularityGate().suppressedUntil, 700);
    EXPECT_FALSE(room.state.circularityGate().firstDetectedAtTurn.has_value());
    EXPECT_EQ(room.model.circularityClears, 1);
    EXPECT_FALSE(room.model.state.liveCircularity.has_value());

    // A break up holds the cycle back; the gate is not dismissed for it.
    room.model.update([](auto& s) {
        s.elapsed = 800;
        s.liveCircularity = CircularityEvidence { true, 0.9, "", "", "Try this" };
    });
    flood(room.model, 800);
    for (int n = 0; n < 4; ++n)
        room.model.say(n % 2, 810 + n, 811 + n, "More of the same thing again");
    EXPECT_TRUE(room.state.showBreak());
    EXPECT_FALSE(room.state.showCircularity());
    EXPECT_TRUE(room.state.circularityGate().firstDetectedAtTurn.has_value());
    room.state.dismissCircularity(false);
    EXPECT_EQ(room.state.circularityGate().suppressedUntil, 1220);
}

TEST(ConversationRoomState, TheFloorPromptFollowsTheClockAndItsDismissals)
{
    Room room;
    room.model.update([](auto& s) { s.isRecording = true; });
    room.model.say(1, 0, 5, "Go on");
    room.model.say(0, 10, 100, "Let me say all of it");
    const struct {
        double elapsed;
        ConversationRoomState::Overlay overlay;
        bool isFinal;
    } steps[] = {
        { 129, ConversationRoomState::NoOverlay, false },
        { 130, ConversationRoomState::FloorOverlay, false },
        { 190, ConversationRoomState::FloorOverlay, true },
    };
    for (const auto& step : steps) {
        room.model.update([&](auto& s) { s.elapsed = step.elapsed; });
        EXPECT_EQ(room.state.overlay(), step.overlay) << step.elapsed;
        if (step.overlay == ConversationRoomState::FloorOverlay) {
            EXPECT_EQ(room.state.floorFinal(), step.isFinal);
            EXPECT_EQ(room.state.floorName(), "Speaker 2");
        }
    }
    room.state.dismissFloor(true);
    EXPECT_EQ(room.state.overlay(), ConversationRoomState::NoOverlay)
        << "passing the floor uses up the first prompt too, which would say two minutes";
    room.model.update([](auto& s) { s.elapsed = 400; });
    EXPECT_EQ(room.state.overlay(), ConversationRoomState::NoOverlay);

    // A new conversation resets both; dismissing the first leaves the final to come.
    room.model.update([](auto& s) {
        s.currentSessionID = "next";
        s.elapsed = 130;
    });
    EXPECT_EQ(room.state.overlay(), ConversationRoomState::FloorOverlay);
    EXPECT_FALSE(room.state.floorFinal());
    room.state.dismissFloor(false);
    EXPECT_EQ(room.state.overlay(), ConversationRoomState::NoOverlay);
    room.model.update([](auto& s) { s.elapsed = 190; });
    EXPECT_EQ(room.state.overlay(), ConversationRoomState::FloorOverlay);
    EXPECT_TRUE(room.state.floorFinal());
}

} // namespace
} // namespace lumora
