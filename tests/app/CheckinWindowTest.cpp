#include "CheckinRecords.hpp"
#include "CheckinRoomState.hpp"
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

// The check-in room as the window shows it in the conversation room's place.
class CheckinWindowTest : public ::testing::Test {
protected:
    bool enabled(const QString& name) const { return shell.find(name)->property("enabled").toBool(); }
    int segments() const
    {
        int count = 0;
        while (shell.has(QStringLiteral("progressSegment%1").arg(count)))
            ++count;
        return count;
    }
    // The pill's label, and whether it shows its clock (the conversation room's pill, hidden
    // under this room, has objects of the same names).
    QString pill() const { return shell.find("checkinStatusPill")->property("label").toString(); }
    bool pillClock() const { return shell.find("checkinStatusPill")->property("showsClock").toBool(); }
    // Clicks the named object inside the notice, whose parts are named as the banner's are.
    void clickInNotice(const QString& name)
    {
        auto* item = shell.find("checkinNotice")->findChild<QQuickItem*>(name);
        ASSERT_NE(item, nullptr) << name.toStdString();
        ASSERT_TRUE(item->isVisible());
        QTest::mouseClick(shell.window(), Qt::LeftButton, Qt::NoModifier,
            item->mapToScene(item->boundingRect().center()).toPoint());
    }
    QRectF sceneRect(const QString& name) const
    {
        auto* item = qobject_cast<QQuickItem*>(shell.find(name));
        return item ? item->mapRectToScene(QRectF(0, 0, item->width(), item->height())) : QRectF();
    }

    testing::ViewModelHome home;
    testing::FakeShell fakes;
    testing::FakeShellSession& session = fakes.session;
    // Last, so that the window goes before the objects it reads.
    testing::WindowHarness shell;
};

// The smoke launch's built-in pack from "Weekly check-in" to the saved panel: the first
// section, a recording with its clock, and finishing into the saved panel (the spoken
// check-in's test walks the sections, the pause, the history and "Close").
TEST_F(CheckinWindowTest, SmokeLaunchWalksThePackToTheSavedPanel)
{
    const auto viewModel = home.viewModel({ "--ui-smoke" });
    ShellSessionAdapter smoke(*viewModel, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(smoke), nullptr);
    shell.click("checkinButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("checkinRoom"); }, 5000));
    EXPECT_FALSE(shell.shows("conversationRoom"));
    EXPECT_EQ(shell.text("checkinTitle"), "Weekly check-in");
    EXPECT_TRUE(shell.text("checkinWeek").startsWith("WEEK OF ")) << shell.text("checkinWeek").toStdString();
    EXPECT_EQ(segments(), 5);
    EXPECT_EQ(shell.text("sectionPosition"), "SECTION 1 OF 5");
    EXPECT_EQ(shell.text("sectionTitle"), "Temperature");
    EXPECT_EQ(shell.text("pacingText"), "about 1 min");
    EXPECT_FALSE(enabled("backButton"));
    EXPECT_TRUE(enabled("nextButton"));
    EXPECT_FALSE(shell.shows("packNote")) << "the built-in pack has no note";
    EXPECT_FALSE(shell.shows("checkinStatusPill"));
    EXPECT_TRUE(shell.shows("leaveCheckinButton"));
    EXPECT_FALSE(shell.shows("checkinTranscript"));
    EXPECT_FALSE(shell.shows("listeningCard"));
    EXPECT_EQ(shell.text("checkinPrimaryButton"), "Start check-in");
    EXPECT_FALSE(shell.shows("checkinPauseButton"));
    EXPECT_LE(sceneRect("sectionCard").width(), 760.5) << "the page is at most 760 wide";
    shell.screenshot("checkin-smoke-section-1");

    shell.click("checkinPrimaryButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewModel->isRecording(); }, 10000));
    // A minute and five seconds on the view model's clock: the section is past its minute.
    home.now = home.now.addSecs(65);
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewModel->elapsed() >= 65; }, 10000));
    EXPECT_TRUE(shell.shows("checkinStatusPill"));
    EXPECT_EQ(pill(), "Listening");
    EXPECT_TRUE(pillClock());
    EXPECT_FALSE(shell.shows("leaveCheckinButton"));
    EXPECT_EQ(shell.text("checkinPrimaryButton"), "Finish check-in");
    EXPECT_EQ(shell.text("checkinPauseButton"), "Pause");
    EXPECT_TRUE(shell.shows("listeningCard"));
    EXPECT_EQ(shell.find("checkinStatusPill")->property("clockText").toString(), "1:05");
    EXPECT_EQ(shell.text("pacingText"), "1:05 · about 1 min");
    EXPECT_TRUE(shell.find("checkinState")->property("isPastSuggestion").toBool());
    shell.screenshot("checkin-smoke-recording");

    shell.click("checkinPrimaryButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewModel->isCheckinFinished(); }, 10000));
    EXPECT_TRUE(shell.shows("savedPanel"));
    EXPECT_EQ(shell.text("savedTitle"), "Check-in saved");
    EXPECT_FALSE(
        shell.shows("sectionCard") || shell.shows("sectionProgress") || shell.shows("checkinNavigation"));
    EXPECT_TRUE(shell.shows("actionsCloseButton"));
    EXPECT_FALSE(shell.shows("checkinPrimaryButton") || shell.shows("checkinPauseButton"));
    EXPECT_FALSE(shell.shows("leaveCheckinButton") || shell.shows("checkinStatusPill"));
    shell.screenshot("checkin-smoke-saved");

    shell.close();
}

// States the fake reaches: a pack note and a prompt source, the transcript with names under
// the swap, a section past its suggestion, processing, and a failure in the notice.
TEST_F(CheckinWindowTest, RunningStatesThroughTheFake)
{
    testing::FakeRoomModel& model = session.roomModel;
    model.state.participantNames = { "Ada", "Bob" };
    ASSERT_NE(shell.openWindow(session), nullptr);
    model.update([](auto& s) {
        s.checkinPack = testing::packWithNote();
        s.checkinFlow = CheckinFlow(5, 0, 0);
    });
    ASSERT_TRUE(shell.shows("checkinRoom"));
    auto* state = qobject_cast<CheckinRoomState*>(shell.find("checkinState"));
    ASSERT_NE(state, nullptr);
    QAbstractItemModelTester tester(state->rows(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(shell.text("checkinWeek"), "WEEK OF FEB 9");
    EXPECT_TRUE(shell.shows("packNote"));
    EXPECT_EQ(shell.text("packNoteText"), "A gentle week: start with what went well.");
    shell.screenshot("checkin-fake-note");
    shell.click("nextButton");
    EXPECT_EQ(model.sectionsAhead, 1);
    model.update([](auto& s) {
        s.checkinFlow = CheckinFlow(5, 1, 30);
        s.isRecording = true;
        s.isCheckinRunning = true;
        s.elapsed = 30 + 125;
    });
    EXPECT_FALSE(shell.shows("packNote")) << "the note belongs to the first section";
    EXPECT_EQ(shell.text("promptSource"), "from a reader's letter");
    EXPECT_EQ(shell.text("pacingText"), "2:05 · about 2 min");
    EXPECT_TRUE(state->isPastSuggestion());
    model.say(0, 0, 10, "I noticed you made the coffee every morning");
    model.say(1, 10, 11, "I did");
    model.say(0, 11, 20, "and it made the mornings easier");
    model.say(1, 20, 40, "I noticed you called my mother on Sunday");
    model.update([](auto& s) { s.sidesSwapped = true; });
    ASSERT_TRUE(shell.shows("checkinTranscript"));
    EXPECT_FALSE(shell.shows("listeningCard"));
    EXPECT_EQ(state->rows()->count(), 2);
    EXPECT_EQ(state->rows()->data(state->rows()->index(0), TranscriptRows::ParagraphRole).toString(),
        "I noticed you made the coffee every morning Ada: “I did” and it made the mornings easier");
    shell.screenshot("checkin-fake-transcript");

    model.update([](auto& s) {
        s.isRecording = false;
        s.isProcessing = true;
        s.errorMessage = "Processing failed. The temporary recording was deleted.";
    });
    EXPECT_EQ(shell.text("checkinPrimaryButton"), "Saving…");
    EXPECT_FALSE(enabled("checkinPrimaryButton"));
    EXPECT_FALSE(shell.shows("checkinPauseButton"));
    EXPECT_EQ(pill(), "Reading It Back");
    EXPECT_TRUE(pillClock());
    ASSERT_TRUE(shell.shows("checkinNotice"));
    EXPECT_EQ(qRound(sceneRect("checkinNotice").top() - sceneRect("checkinRoom").top()), 84);
    EXPECT_LE(sceneRect("checkinNotice").width(), 680);
    shell.screenshot("checkin-fake-processing-notice");
    clickInNotice("checkinNoticeDismiss");
    EXPECT_TRUE(model.state.errorMessage.isEmpty());
    EXPECT_FALSE(shell.shows("checkinNotice"));
}

} // namespace
} // namespace lumora
