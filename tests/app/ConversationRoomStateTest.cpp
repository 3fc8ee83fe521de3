#include "ConversationRoomState.hpp"

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
