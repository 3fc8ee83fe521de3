// clang-format off
// First, as SpokenConversationTest.hpp asks.
#include "ConnectedConversationTest.hpp"
// clang-format on

#include "ConversationRoomState.hpp"
#include "ShellSessionAdapter.hpp"
#include "WindowHarness.hpp"

#include <QTest>

namespace lumora {
namespace {

// A short exchange heard by the speech stand-in: the left partner's two lines around the other's
// brief "Mm, yes." (an interjection), then the other partner's answer.
const test::HeardLine exchange[] = {
    { 0, 0.5, 3.5, QStringLiteral("We keep getting stuck in the same cycle.") },
    { 1, 3.7, 4.3, QStringLiteral("Mm, yes.") },
    { 0, 4.5, 7.0, QStringLiteral("And I want us to find a way out.") },
    { 1, 7.5, 10.5, QStringLiteral("I feel that too, and I want to understand you.") },
};

// The room in the application's window over a view model that is connected to the real control
// plane and speech stand-in, recording from the virtual microphone. The stand-in takes its time
// over the final transcript, so that the room shows its processing state long enough to see.
class RoomConversationTest : public test::ConnectedConversationTest {
protected:
    RoomConversationTest()
        : ConnectedConversationTest({}, 0, 0)
    {
    }

    test::ScriptedConversation script() override { return test::quietScript(folder(), exchange); }
    QStringList extraSpeechArguments() override { return { "--prerecorded-delay-ms", "3000" }; }

    ConversationRoomState& room() const
    {
        auto* state = qobject_cast<ConversationRoomState*>(shell.find("roomState"));
        EXPECT_NE(state, nullptr);
        return *state;
    }
    // Presses a button of the stage's row once it takes presses again: for a moment after the
    // row changes, a press where the pointer rests is not taken.
    void clickRow(const QString& name)
    {
        ASSERT_TRUE(test::spinUntil([&] { return room().takesRowPress(); }, 60000));
        shell.click(name);
    }
    // Presses the start button and waits until the conversation records.
    void start(SessionViewModel& model)
    {
        clickRow("primaryButton");
        ASSERT_TRUE(test::spinUntil([&] { return model.isRecording() || model.errorMessage(); }, 60000));
        ASSERT_TRUE(model.isRecording()) << model.statusText().toStdString();
    }

    lumora::testing::WindowHarness shell;
};

// Recording with rows (one with an interjection), swapped sides, paused and processing; the
// floor prompt at two and three minutes of one partner holding the floor, naming the other
// partner, and a new conversation starting without either dismissal.
TEST_F(RoomConversationTest, ASpokenConversationFillsTheRoomAndTheFloorPromptFollowsTheClock)
{
    const auto model = connectedModel();
    ShellSessionAdapter session(*model, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(session), nullptr);
    ConversationRoomState& state = room();
    QStringList pills;
    QObject::connect(&state, &ConversationRoomState::pillLabelChanged,
        [&] { pills.append(state.showsPill() ? state.pillLabel() : QString()); });
    start(*model);
    EXPECT_EQ(shell.text("statusLabel"), "Listening");

    ASSERT_TRUE(test::spinUntil([&] { return state.turnCount() == qsizetype(std::size(exchange)); }, 60000));
    ASSERT_EQ(state.rows()->count(), 2) << "the brief answer sits inside the first row";
    EXPECT_TRUE(state.groupedTurns().first().pieces.at(1).isInterjection);
    EXPECT_FALSE(shell.shows("emptyRoom"));
    EXPECT_TRUE(shell.shows("swapSidesButton"));
    shell.screenshot("room-spoken-recording");

    shell.click("swapSidesButton");
    EXPECT_TRUE(model->sidesSwapped());
    EXPECT_EQ(state.leftCorner().canonicalSide, 1);
    EXPECT_EQ(state.rows()->data(state.rows()->index(0), TranscriptRows::DisplaySideRole).toInt(), 1);
    shell.screenshot("room-spoken-swapped");
    shell.click("swapSidesButton");

    clickRow("pauseButton");
    ASSERT_TRUE(model->isPaused());
    EXPECT_EQ(shell.text("statusLabel"), "Paused");
    EXPECT_EQ(shell.text("pauseButton"), "Resume");
    shell.screenshot("room-spoken-paused");
    clickRow("pauseButton");
    ASSERT_TRUE(model->isRecording());

    // The second partner has held the floor since the last line began; the clock moves on.
    const double heldSince = exchange[3].start;
    *clockSkipped = qint64(120 - model->elapsed() + heldSince) + 1;
    ASSERT_TRUE(test::spinUntil([&] { return shell.shows("floorOverlay"); }, 60000));
    EXPECT_EQ(shell.text("floorHeadline"), "You\u2019ve held the floor for two minutes.");
    EXPECT_EQ(shell.text("floorGuidance"),
        "Name the softer truth underneath, then pause so Speaker 1 can reach back.");
    shell.screenshot("room-spoken-floor-first");
    shell.click("floorButton");
    EXPECT_TRUE(state.turnExtensionUsed());
    EXPECT_FALSE(shell.shows("floorOverlay"));

    *clockSkipped += 60;
    ASSERT_TRUE(test::spinUntil([&] { return shell.shows("floorOverlay"); }, 60000));
    EXPECT_EQ(shell.text("floorGuidance"), "Turn toward Speaker 1\u2019s response.");
    shell.screenshot("room-spoken-floor-final");
    shell.click("floorButton");
    EXPECT_TRUE(state.dismissedFinalFloor());

    clickRow("primaryButton");
    ASSERT_TRUE(test::spinUntil([&] { return model->isProcessing(); }, 60000));
    EXPECT_EQ(shell.text("statusLabel"), "Reading It Back");
    EXPECT_TRUE(shell.shows("processingNote"));
    shell.screenshot("room-spoken-processing");
    ASSERT_TRUE(test::spinUntil([&] { return !model->isProcessing(); }, 60000));
    EXPECT_FALSE(model->errorMessage().has_value()) << model->errorMessage().value_or("").toStdString();
    EXPECT_TRUE(pills.contains("Reading It Back"));
    EXPECT_EQ(model->results().size(), 1);
    EXPECT_TRUE(shell.shows("emptyRoom"));
    // The room says the conversation was saved, with the way to its review.
    ASSERT_TRUE(shell.shows("finishNotice"));
    EXPECT_EQ(shell.text("finishNoticeMessage"), "Conversation ready to review");
    shell.screenshot("room-spoken-finished");

    // A new conversation begins with neither floor prompt dismissed.
    start(*model);
    EXPECT_FALSE(state.turnExtensionUsed());
    EXPECT_FALSE(state.dismissedFinalFloor());
    EXPECT_FALSE(shell.shows("finishNotice")) << "a new conversation leaves the last one's notice";
    clickRow("primaryButton");
    ASSERT_TRUE(test::spinUntil([&] { return !model->isProcessing() && !model->isRecording(); }, 60000));
    shell.close();
}

// Quitting the moment Finish is pressed (the question opens while the review is sealed) and
// again while the conversation is saved: the question follows the conversation into its saving
// form, and once it is saved the quit goes ahead without another answer; "Discard", wherever it
// is offered, leaves nothing of its conversation here or on the account.
TEST_F(RoomConversationTest, AQuitAskedAtTheFinishGoesAheadOnceSavedAndItsDiscardDiscards)
{
    const auto model = connectedModel();
    ShellSessionAdapter session(*model, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(session), nullptr);
    int quits = 0;
    QObject::connect(&session, &ShellSession::quitRequested, [&] { ++quits; });
    const auto finishAndQuit = [&] {
        start(*model);
        clickRow("primaryButton");
        ASSERT_TRUE(model->isRecording()) << "the review is still being sealed";
        shell.press(Qt::Key_Q, Qt::ControlModifier);
        ASSERT_TRUE(shell.shows("quitDialog"));
        // The seal may end while the key is delivered (on a slow machine it often does): the
        // question says what the conversation is when it is read.
        const bool sealed = model->isProcessing() && !model->isRecording();
        EXPECT_EQ(shell.text("quitTitle"),
            sealed ? "Quit while the conversation is saved?" : "Quit during the conversation?");
        ASSERT_TRUE(test::spinUntil([&] { return model->isProcessing(); }, 60000));
        EXPECT_EQ(shell.text("quitTitle"), "Quit while the conversation is saved?");
    };

    finishAndQuit();
    ASSERT_TRUE(test::spinUntil([&] { return !model->isProcessing(); }, 60000));
    ASSERT_EQ(model->results().size(), 1);
    const QUuid kept = model->results().first().id;
    EXPECT_EQ(quits, 1) << "the quit asked for did not go ahead once the conversation was saved";
    EXPECT_FALSE(shell.shows("quitDialog"));

    finishAndQuit();
    shell.click("discardButton");
    EXPECT_EQ(quits, 2);
    // What the application does as it ends.
    test::awaitTask(model->giveUpForQuit());
    lumora::testing::settle(*model);
    test::awaitTask(model->synchronizeHistory(true));
    const auto stored = test::awaitTask(model->resultStore()->list());
    ASSERT_TRUE(stored.has_value());
    ASSERT_EQ(stored->results.size(), 1) << "the discarded conversation was kept on this computer";
    EXPECT_EQ(stored->results.first().id, kept);
    ASSERT_EQ(model->historyEntries().size(), 1) << "the discarded conversation reached the account";
    EXPECT_EQ(model->historyEntries().first().localID, kept);
    shell.close();
}

// A start that fails (the control plane has gone) says why in the banner, which the person
// dismisses; nothing records.
TEST_F(RoomConversationTest, AStartThatFailsShowsTheBannerUntilDismissed)
{
    const auto model = connectedModel();
    ShellSessionAdapter session(*model, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(session), nullptr);
    ASSERT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
    controlPlane.reset();

    shell.click("primaryButton");
    ASSERT_TRUE(test::spinUntil([&] { return model->errorMessage().has_value(); }, 60000));
    EXPECT_FALSE(model->isRecording() || model->isStartingConversation());
    ASSERT_TRUE(test::spinUntil([&] { return shell.shows("errorBanner"); }, 60000));
    EXPECT_EQ(shell.text("errorBannerMessage"), *model->errorMessage());
    EXPECT_EQ(shell.text("primaryButton"), "Start conversation");
    shell.screenshot("room-spoken-start-failed");
    shell.click("errorBannerDismiss");
    EXPECT_FALSE(model->errorMessage().has_value());
    EXPECT_FALSE(shell.shows("errorBanner"));
    shell.close();
}

// The same room when the speech service cannot make the final transcript: the review is made
// from the live transcript, and the room says so after the finish.
class RoomConversationWithoutFinalTranscriptTest : public RoomConversationTest {
protected:
    QStringList extraSpeechArguments() override { return { "--prerecorded-reply", "500" }; }
};

TEST_F(RoomConversationWithoutFinalTranscriptTest, TheFinishSaysTheReviewUsesTheLiveTranscript)
{
    const auto model = connectedModel();
    ShellSessionAdapter session(*model, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(session), nullptr);
    start(*model);
    ASSERT_TRUE(test::spinUntil([&] { return room().turnCount() == qsizetype(std::size(exchange)); }, 60000));
    clickRow("primaryButton");
    ASSERT_TRUE(test::spinUntil([&] { return model->isProcessing(); }, 60000));
    ASSERT_TRUE(test::spinUntil([&] { return !model->isProcessing(); }, 90000));
    ASSERT_EQ(model->results().size(), 1);
    ASSERT_TRUE(shell.shows("finishNotice"));
    EXPECT_EQ(shell.text("finishNoticeMessage"),
        "Conversation ready to review. The final transcript could not be made, so the review uses the live "
        "transcript.");
    EXPECT_FALSE(shell.shows("errorBanner"));
    EXPECT_TRUE(shell.shows("finishNoticeAction"));
    shell.screenshot("room-spoken-finished-live-transcript");
    shell.close();
}

} // namespace
} // namespace lumora
