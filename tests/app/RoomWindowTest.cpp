#include "ConversationRoomState.hpp"
#include "FakeShell.hpp"
#include "ShellSessionAdapter.hpp"
#include "ViewModelFixture.hpp"
#include "WindowHarness.hpp"

#include <QAbstractItemModelTester>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

namespace lumora {
namespace {

SpeakerTurn turn(qint64 speaker, double start, double end, const char* text)
{
    return SpeakerTurn(speaker, start, end, QString::fromUtf8(text));
}

// The room as the window shows it on the Conversation section.
class RoomWindowTest : public ::testing::Test {
protected:
    ConversationRoomState& room() const
    {
        auto* state = qobject_cast<ConversationRoomState*>(shell.find("roomState"));
        EXPECT_NE(state, nullptr);
        return *state;
    }
    void resize(int width, int height = 760) { shell.resize(QSize(width, height)); }
    QRectF sceneRect(const QString& name) const
    {
        auto* item = qobject_cast<QQuickItem*>(shell.find(name));
        return item ? item->mapRectToScene(QRectF(0, 0, item->width(), item->height())) : QRectF();
    }
    QString cardTitle() const { return shell.find("setupCard")->property("title").toString(); }

    testing::ViewModelHome home;
    testing::FakeShell fakes;
    testing::FakeShellSession& session = fakes.session;
    // Last, so that the window goes before the objects it reads.
    testing::WindowHarness shell;
};

// The smoke launch's room, idle: wide from 980, compact and scrolling below; at the narrow end
// of the wide arrangement the centre column shrinks instead of pushing the right corner out.
TEST_F(RoomWindowTest, SmokeLaunchShowsTheIdleRoomAtEachWidth)
{
    const auto viewModel = home.viewModel({ "--ui-smoke" });
    ShellSessionAdapter smoke(*viewModel, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(smoke), nullptr);
    for (const int width : { 1200, 980, 979 }) {
        SCOPED_TRACE(width);
        resize(width);
        const bool wide = width >= 980;
        EXPECT_EQ(shell.has("wideRoom"), wide);
        EXPECT_EQ(shell.has("compactRoom"), !wide);
        EXPECT_TRUE(shell.shows("emptyRoom"));
        EXPECT_FALSE(shell.shows("statusPill")) << "nothing runs";
        EXPECT_FALSE(shell.shows("swapSidesButton")) << "no turns";
        EXPECT_EQ(shell.text("primaryButton"), "Start conversation");
        EXPECT_TRUE(shell.shows("rehearsalButton"));
        const QRectF right = sceneRect("rightCorner");
        EXPECT_LE(right.right(), width - (wide ? 32 : 24) + 0.5);
        EXPECT_EQ(qRound(right.width()), wide ? 224 : qRound(right.width()));
        shell.screenshot(QStringLiteral("room-smoke-idle-%1").arg(width));
    }
    shell.close();
}

// States only a running conversation reaches, through the fake: rows with an interjection and
// findings, swapped sides, pause, processing, a failure in the banner, the hidden message, and
// the check-in room taking the room's place without losing the room's state.
TEST_F(RoomWindowTest, RunningStatesThroughTheFake)
{
    testing::FakeRoomModel& model = session.roomModel;
    model.state.participantNames = { "Ada", "Bob" };
    ASSERT_NE(shell.openWindow(session), nullptr);
    QAbstractItemModelTester tester(room().rows(), QAbstractItemModelTester::FailureReportingMode::Fatal);

    model.update([](auto& s) {
        s.isRecording = true;
        s.elapsed = 75;
        s.currentSessionID = "one";
        s.selectedAgendaStep = 1;
        s.liveStepNote = "naming the loop, not the person";
        s.turns = { turn(0, 2, 12, "I want to talk about dinner <tonight> & why it matters to me."),
            turn(1, 12, 13, "Okay."), turn(0, 13, 30, "Because it is the one hour we have together."),
            turn(1, 31, 52, "I hear you. I check my phone more than I want to admit.") };
        s.annotations = { BehaviorAnnotation(0, 0, BehaviorCode::criticism, 0.8, 2, 12),
            BehaviorAnnotation(3, 1, BehaviorCode::repair, 0.9, 31, 52) };
        s.fouls = { ProcessFoulAnnotation(0, 0, ProcessFoul::globalizing, 0.7, 2, 12) };
    });
    EXPECT_TRUE(shell.shows("statusPill"));
    EXPECT_EQ(shell.text("statusLabel"), "Listening");
    EXPECT_EQ(shell.text("statusClock"), "1:15");
    EXPECT_EQ(shell.text("primaryButton"), "Finish conversation");
    EXPECT_FALSE(shell.shows("rehearsalButton"));
    EXPECT_EQ(shell.text("pauseButton"), "Pause");
    EXPECT_TRUE(shell.shows("swapSidesButton"));
    EXPECT_FALSE(shell.shows("emptyRoom"));
    EXPECT_EQ(shell.text("agendaNote"), "naming the loop, not the person");
    EXPECT_EQ(room().rows()->count(), 2);
    shell.screenshot("room-fake-recording");
    // The agenda's steps and its note stay inside the centre column, clear of the corners.
    const QRectF column = sceneRect("centreColumn");
    for (const char* part : { "agendaStep0", "agendaStep5", "stepGuidance", "stepStarter", "agendaNote" }) {
        const QRectF rect = sceneRect(part);
        EXPECT_GE(rect.left(), column.left() - 0.5) << part;
        EXPECT_LE(rect.right(), column.right() + 0.5) << part;
    }

    shell.click("swapSidesButton");
    EXPECT_TRUE(model.state.sidesSwapped);
    EXPECT_EQ(room().leftCorner().canonicalSide, 1);
    EXPECT_EQ(room().leftCorner().name, "Ada") << "names stay with their seats";
    shell.screenshot("room-fake-recording-swapped");

    shell.click("pauseButton");
    EXPECT_EQ(model.pauses, 1);
    model.update([](auto& s) {
        s.isRecording = false;
        s.isPaused = true;
    });
    EXPECT_EQ(shell.text("statusLabel"), "Paused");
    EXPECT_EQ(shell.text("pauseButton"), "Resume");
    shell.screenshot("room-fake-paused");

    model.update([](auto& s) {
        s.isPaused = false;
        s.isProcessing = true;
    });
    EXPECT_EQ(shell.text("statusLabel"), "Reading It Back");
    EXPECT_TRUE(shell.shows("statusClock")) << "the clock stays while processing";
    EXPECT_TRUE(shell.shows("processingNote"));
    EXPECT_FALSE(shell.shows("rehearsalButton"));
    shell.screenshot("room-fake-processing");

    model.update([](auto& s) {
        s.isProcessing = false;
        s.errorMessage = "Processing failed. The temporary recording was deleted. Everything else you said "
                         "stays out of the record, and nothing reached the account.";
    });
    EXPECT_TRUE(shell.shows("errorBanner"));
    shell.screenshot("room-fake-error-banner");
    shell.click("errorBannerDismiss");
    EXPECT_EQ(model.state.errorMessage, QString());
    EXPECT_FALSE(shell.shows("errorBanner"));

    // A single click on the brand mark does nothing; a double click reveals the message.
    auto* mark = qobject_cast<QQuickItem*>(shell.find("brandMark"));
    const QPoint centre = mark->mapToScene(QPointF(22, 22)).toPoint();
    QTest::mouseClick(shell.window(), Qt::LeftButton, Qt::NoModifier, centre);
    QTest::qWait(400);
    EXPECT_FALSE(room().showThreadMessage());
    QTest::mouseDClick(shell.window(), Qt::LeftButton, Qt::NoModifier, centre);
    EXPECT_TRUE(room().showThreadMessage());
    EXPECT_TRUE(shell.shows("hiddenMessage"));
    shell.screenshot("room-fake-hidden-message");

    // The check-in room takes the room's place; the room's own state waits for it.
    model.update([](auto& s) { s.checkinPack = CheckinPack {}; });
    EXPECT_TRUE(shell.shows("checkinRoom"));
    EXPECT_FALSE(shell.shows("conversationRoom"));
    EXPECT_EQ(model.agendaSteps.value(model.agendaSteps.size() - 1, -1), 0) << "idle: the agenda goes back";
    model.update([](auto& s) { s.checkinPack.reset(); });
    EXPECT_TRUE(shell.shows("conversationRoom"));
    EXPECT_TRUE(room().showThreadMessage());
    shell.click("closeHiddenMessageButton");
    EXPECT_FALSE(shell.shows("hiddenMessage"));
}

// A fresh profile whose people close the setup sheet before signing in: "Start conversation"
// opens the sheet again at its sign-in card, and so it does after a restart.
TEST_F(RoomWindowTest, AFreshProfileThatClosedTheSetupSheetCanStillSignIn)
{
    // A release build's control plane, which nothing answers here.
    home.info["LMControlPlaneURL"] = "https://127.0.0.1:9";
    {
        const auto viewModel = home.viewModel();
        ShellSessionAdapter fresh(*viewModel, [] { return QDateTime::currentDateTimeUtc(); });
        ASSERT_NE(shell.openWindow(fresh), nullptr);
        EXPECT_TRUE(shell.shows("setupSheet"));
        shell.click("agreeButton");
        EXPECT_EQ(cardTitle(), "Your private Corvane account");
        shell.click("setupCloseButton");
        EXPECT_FALSE(shell.shows("setupSheet"));

        shell.click("primaryButton");
        EXPECT_TRUE(shell.shows("setupSheet"));
        EXPECT_EQ(cardTitle(), "Your private Corvane account");
        EXPECT_TRUE(shell.shows("signInButton"));
        shell.screenshot("room-start-opens-sign-in");
        shell.close();
    }
    const auto restarted = home.viewModel();
    ShellSessionAdapter again(*restarted, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(again), nullptr);
    EXPECT_FALSE(shell.shows("setupSheet")) << "the agreement is kept";
    shell.click("primaryButton");
    EXPECT_TRUE(shell.shows("setupSheet"));
    EXPECT_EQ(cardTitle(), "Your private Corvane account");
    shell.close();
}

} // namespace
} // namespace lumora

namespace lumora {
namespace {

// "Watch a rehearsal" in the smoke launch: the real clock ticks; the test then drives the ticks
// itself to the break (tick 79, 47.4 s) and on to the end, instead of waiting two minutes.
TEST_F(RoomWindowTest, TheRehearsalRunsToItsBreakAndOnToItsEnd)
{
    const auto viewModel = home.viewModel({ "--ui-smoke" });
    ShellSessionAdapter smoke(*viewModel, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(smoke), nullptr);
    ConversationRoomState& state = room();
    const qsizetype results = viewModel->results().size();
    shell.click("rehearsalButton");
    EXPECT_TRUE(QTest::qWaitFor([&] { return state.rehearsalElapsed() > 0; }, 5000))
        << "the room's clock ticks";
    shell.click("primaryButton");
    EXPECT_FALSE(state.rehearsalActive());

    shell.click("rehearsalButton");
    for (int tick = 0; tick < 79; ++tick)
        state.tickRehearsal();
    EXPECT_DOUBLE_EQ(state.rehearsalElapsed(), 47.4);
    EXPECT_TRUE(shell.shows("breakOverlay"));
    EXPECT_EQ(shell.text("breathingLabel"), "breathe in") << "still with reduce motion";
    EXPECT_EQ(qRound(shell.find("breathingRing")->property("width").toReal()), 130);
    EXPECT_EQ(viewModel->selectedAgendaStep(), 1);
    EXPECT_EQ(shell.text("statusLabel"), "Rehearsal");
    EXPECT_EQ(state.speakerNames(), (QStringList { "Alex", "Jordan" }));
    EXPECT_GT(state.warmCount() + state.hardCount(), 0) << "the gauges count the script";
    shell.screenshot("room-rehearsal-break");

    shell.click("keepTalkingButton");
    EXPECT_FALSE(shell.shows("breakOverlay"));
    for (int tick = 79; tick < 239; ++tick)
        state.tickRehearsal();
    EXPECT_DOUBLE_EQ(state.rehearsalElapsed(), 143);
    EXPECT_EQ(shell.text("statusLabel"), "Rehearsal complete");
    EXPECT_EQ(shell.text("primaryButton"), "Close rehearsal");
    EXPECT_EQ(state.primaryAccessibilityLabel(), "End rehearsal");
    EXPECT_EQ(state.turnCount(), 16);
    shell.screenshot("room-rehearsal-complete");
    shell.click("primaryButton");
    EXPECT_FALSE(state.rehearsalActive());
    EXPECT_TRUE(viewModel->liveTurns().isEmpty()) << "nothing is recorded";
    EXPECT_EQ(viewModel->results().size(), results) << "nothing is saved";
    shell.close();
}

// The overlays over the room, through the fake: the repeated cycle with and without the
// analysis's words, Escape and the backdrop dismissing it; the floor prompt at two and three
// minutes; the break on flooding, which Escape closes as "Keep talking" does.
TEST_F(RoomWindowTest, GuidanceOverlaysThroughTheFake)
{
    testing::FakeRoomModel& model = session.roomModel;
    ASSERT_NE(shell.openWindow(session), nullptr);
    ConversationRoomState& state = room();
    const char* lines[] = { "apple river stone", "cloud marble tiger", "garden violin candle",
        "window forest pepper", "rocket meadow lantern", "harbor pencil orchid", "silver canyon ribbon",
        "dragon button island", "castle feather mirror", "thunder saddle lemon", "planet whisker barrel" };
    model.update([](auto& s) {
        s.isRecording = true;
        s.elapsed = 100;
        s.liveCircularity = CircularityEvidence { true, 0.9, "dinner",
            "You have each restated the dinner point three times without reflecting the other.",
            "\u201cWhat I really want at dinner is to feel chosen.\u201d" };
    });
    for (int n = 0; n < 11; ++n)
        model.say(n % 2, n * 8, n * 8 + 6, lines[n]);
    ASSERT_TRUE(shell.shows("cycleOverlay"));
    EXPECT_TRUE(shell.shows("cycleRationale"));
    EXPECT_EQ(shell.text("cycleOpening"), "\u201cWhat I really want at dinner is to feel chosen.\u201d");
    shell.screenshot("room-cycle-evidence");
    shell.press(Qt::Key_Escape);
    EXPECT_FALSE(shell.shows("cycleOverlay"));
    EXPECT_EQ(state.circularityGate().suppressedUntil, 520) << "Escape dismisses, never acknowledges";

    // Only the local heuristic: no rationale and the default sentence.
    model.update([](auto& s) {
        s.elapsed = 600;
        s.liveCircularity = CircularityEvidence { true, 0.9, "", "", "" };
    });
    for (int n = 0; n < 4; ++n)
        model.say(1, 600 + n, 601 + n, "the same dinner point again and again");
    ASSERT_TRUE(shell.shows("cycleOverlay"));
    EXPECT_FALSE(shell.shows("cycleRationale"));
    EXPECT_EQ(shell.text("cycleOpening"),
        "\u201cUnderneath this, what I\u2019m really trying to tell you is\u2026\u201d");
    shell.screenshot("room-cycle-default");
    QTest::mouseClick(shell.window(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 700));
    EXPECT_FALSE(shell.shows("cycleOverlay")) << "a tap on the backdrop dismisses";
    EXPECT_EQ(model.circularityClears, 2);

    // One partner holds the floor.
    model.update([](auto& s) { s.elapsed = 600 + 121; });
    ASSERT_TRUE(shell.shows("floorOverlay"));
    EXPECT_EQ(shell.text("floorHeadline"), "You\u2019ve held the floor for two minutes.");
    EXPECT_EQ(shell.text("floorGuidance"),
        "Name the softer truth underneath, then pause so Speaker 1 can reach back.");
    shell.screenshot("room-floor-first");
    model.update([](auto& s) { s.elapsed = 600 + 181; });
    EXPECT_EQ(shell.text("floorButton"), "Pass the floor");
    EXPECT_EQ(shell.text("floorGuidance"), "Turn toward Speaker 1\u2019s response.");
    shell.screenshot("room-floor-final");
    shell.click("floorButton");
    EXPECT_TRUE(state.dismissedFinalFloor());
    shell.press(Qt::Key_Escape);
    EXPECT_TRUE(state.turnExtensionUsed());
    EXPECT_FALSE(shell.shows("floorOverlay"));

    // Flooding raises the break over everything.
    model.update([](auto& s) {
        for (qint64 i = 0; i < 4; ++i)
            s.annotations.append(
                BehaviorAnnotation(s.turns.size() + (i % 2), i % 2, BehaviorCode::contempt, 0.9, 0, 1));
    });
    model.say(0, 790, 791, "You never listen");
    model.say(1, 791, 792, "You always say that");
    ASSERT_TRUE(shell.shows("breakOverlay"));
    shell.screenshot("room-break");
    shell.press(Qt::Key_Escape);
    EXPECT_FALSE(shell.shows("breakOverlay"));
    EXPECT_EQ(model.finishes, 0) << "Escape keeps talking";
    EXPECT_DOUBLE_EQ(state.breakSuppressedUntil(), 781 + 150);
}

} // namespace
} // namespace lumora
