#include "CheckinRecords.hpp"
#include "CheckinRoomState.hpp"
#include "Contrast.hpp"
#include "FakeShell.hpp"
#include "ShellSessionAdapter.hpp"
#include "ViewModelFixture.hpp"
#include "WindowHarness.hpp"

#include <QAbstractItemModelTester>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("checkinRoom"); }, 60000));
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewModel->isRecording(); }, 60000));
    // A minute and five seconds on the view model's clock: the section is past its minute.
    home.now = home.now.addSecs(65);
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewModel->elapsed() >= 65; }, 60000));
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewModel->isCheckinFinished(); }, 60000));
    EXPECT_TRUE(shell.shows("savedPanel"));
    EXPECT_EQ(shell.text("savedTitle"), "Check-in saved");
    EXPECT_FALSE(
        shell.shows("sectionCard") || shell.shows("sectionProgress") || shell.shows("checkinNavigation"));
    EXPECT_TRUE(shell.shows("savedCloseButton"));
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

// The room holds still under the pointer: "Next" and "Back" stay where they are from section
// to section, what has been said so far follows its new lines unless the user scrolled up, the
// section is not a card on a card, the notice is as wide as it may be, and once saved the panel
// leads with its buttons and "Close" shows once.
TEST_F(CheckinWindowTest, TheRoomHoldsStillUnderThePointer)
{
    testing::FakeRoomModel& model = session.roomModel;
    ASSERT_NE(shell.openWindow(session), nullptr);
    shell.resize(QSize(920, 680));
    model.update([](auto& s) {
        s.checkinPack = testing::packWithNote();
        s.checkinFlow = CheckinFlow(5, 0, 0);
    });
    ASSERT_TRUE(shell.shows("checkinRoom"));
    const QRectF next = sceneRect("nextButton");
    const QRectF back = sceneRect("backButton");
    for (int index = 1; index < 5; ++index) {
        shell.click("nextButton");
        model.update([&](auto& s) { s.checkinFlow = CheckinFlow(5, index, 0); });
        EXPECT_EQ(sceneRect("nextButton"), next) << "section " << index;
        EXPECT_EQ(sceneRect("backButton"), back) << "section " << index;
    }
    EXPECT_EQ(model.sectionsAhead, 4);
    for (QQuickItem* item = qobject_cast<QQuickItem*>(shell.find("sectionTitle")); item;
         item = item->parentItem())
        EXPECT_FALSE(QString::fromLatin1(item->metaObject()->className()).startsWith("EditorialCard"))
            << "the section sits on a card";

    // New lines come into view under the recording; after a scroll up they leave the page be.
    model.update([](auto& s) {
        s.checkinFlow = CheckinFlow(5, 0, 0);
        s.isRecording = true;
        s.isCheckinRunning = true;
    });
    auto* page = qobject_cast<QQuickItem*>(shell.find("checkinPage"));
    // Once the page has laid out its new lines in a frame.
    const auto nextFrame = [&] {
        QSignalSpy swapped(shell.window(), &QQuickWindow::frameSwapped);
        shell.window()->update();
        EXPECT_TRUE(swapped.wait(60000));
    };
    const auto newestLineShows = [&] {
        const QRectF transcript = sceneRect("checkinTranscript");
        const QRectF view = page->mapRectToScene(QRectF(0, 0, page->width(), page->height()));
        return transcript.height() > 0 && transcript.bottom() <= view.bottom() + 0.5;
    };
    for (int line = 0; line < 8; ++line) {
        model.say(line % 2, line * 10, line * 10 + 8,
            QStringLiteral("Line %1 of what we said this week, long enough to take a line or two.")
                .arg(line + 1));
        nextFrame();
        EXPECT_TRUE(QTest::qWaitFor(newestLineShows, 60000)) << "line " << line + 1;
    }
    shell.screenshot("checkin-transcript-following");
    const QPoint middle = page->mapToScene(QPointF(page->width() / 2, page->height() / 2)).toPoint();
    QWheelEvent wheel(middle, shell.window()->mapToGlobal(middle), QPoint(), QPoint(0, 360), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    const qreal end = page->property("contentY").toReal();
    ASSERT_GT(end, 0) << "the transcript took the page down to its newest line";
    QCoreApplication::sendEvent(shell.window(), &wheel);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->property("contentY").toReal() < end; }, 60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page->property("moving").toBool(); }, 60000));
    const qreal reading = page->property("contentY").toReal();
    model.say(0, 100, 108, "One more line, while the other reads back.");
    nextFrame();
    nextFrame();
    EXPECT_NEAR(page->property("contentY").toReal(), reading, 0.5);

    // A short notice is as wide as the room allows, up to 680.
    model.update([](auto& s) { s.errorMessage = "Pausing failed."; });
    ASSERT_TRUE(shell.shows("checkinNotice"));
    EXPECT_NEAR(sceneRect("checkinNotice").width(), std::min(680.0, 920.0 - 48), 0.5);
    shell.screenshot("checkin-notice-short");
    model.update([](auto& s) { s.errorMessage.clear(); });

    model.update([](auto& s) {
        s.isRecording = false;
        s.isCheckinRunning = false;
        s.isCheckinFinished = true;
    });
    ASSERT_TRUE(shell.shows("savedPanel"));
    EXPECT_NEAR(sceneRect("readInHistoryButton").left(), sceneRect("savedSentence").left(), 0.5)
        << "the panel's buttons lead";
    int closes = 0;
    for (const char* name : { "savedCloseButton", "actionsCloseButton" })
        closes += shell.has(name) && shell.shows(name);
    EXPECT_EQ(closes, 1);
    shell.screenshot("checkin-saved-920");
}

// At the narrowest window, with what has been said running past the page, the page scrolls by
// Home, End, Page Up and Down and the arrows while the keyboard is on "Back", outside it; the
// section's title and the progress strip stay in view, nothing of the transcript drawn over them.
TEST_F(CheckinWindowTest, ThePageScrollsByTheKeysAndKeepsItsSectionInView)
{
    testing::FakeRoomModel& model = session.roomModel;
    ASSERT_NE(shell.openWindow(session), nullptr);
    shell.resize(QSize(920, 680));
    model.update([](auto& s) {
        s.checkinPack = testing::packWithNote();
        s.checkinFlow = CheckinFlow(5, 1, 0);
        s.isRecording = true;
        s.isCheckinRunning = true;
    });
    ASSERT_TRUE(shell.shows("checkinRoom"));
    for (int line = 0; line < 12; ++line)
        model.say(line % 2, line * 10, line * 10 + 8,
            QStringLiteral("Line %1 of what we said this week, long enough to take a line or two.")
                .arg(line + 1));
    auto* page = qobject_cast<QQuickItem*>(shell.find("checkinPage"));
    const auto contentY = [&] { return page->property("contentY").toReal(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return contentY() > 200; }, 60000))
        << "the page follows the transcript";
    shell.waitForFrame();
    const qreal last = page->property("contentHeight").toReal() - page->height();

    auto* back = qobject_cast<QQuickItem*>(shell.find("backButton"));
    back->forceActiveFocus(Qt::TabFocusReason);
    shell.press(Qt::Key_Home);
    EXPECT_EQ(contentY(), 0);
    shell.press(Qt::Key_Down);
    EXPECT_EQ(contentY(), 48);
    shell.press(Qt::Key_PageDown);
    EXPECT_GT(contentY(), 48 + 200);
    shell.press(Qt::Key_End);
    EXPECT_EQ(contentY(), last);
    shell.press(Qt::Key_Up);
    EXPECT_EQ(contentY(), last - 48);
    shell.press(Qt::Key_PageUp);
    EXPECT_LT(contentY(), last - 48 - 200);
    EXPECT_EQ(shell.window()->activeFocusItem(), back);

    shell.press(Qt::Key_End);
    shell.waitForFrame();
    const QRectF view = page->mapRectToScene(QRectF(0, 0, page->width(), page->height()));
    const QImage with = shell.window()->grabWindow();
    auto* transcript = qobject_cast<QQuickItem*>(shell.find("checkinTranscript"));
    transcript->setOpacity(0);
    const QImage without = shell.window()->grabWindow();
    transcript->setOpacity(1);
    for (const char* name : { "sectionProgress", "sectionTitle" }) {
        SCOPED_TRACE(name);
        const QRectF drawn = sceneRect(name);
        EXPECT_TRUE(view.contains(drawn)) << "at " << drawn.y() << " of a view from " << view.y();
        const QRect area = drawn.toAlignedRect();
        EXPECT_EQ(with.copy(area), without.copy(area)) << "the transcript draws over it";
        EXPECT_GE(testing::pixelRange(with, area).ratio(), 4.5);
    }
    // Looked at with "Back" focused and "Next" under the pointer, at each size.
    for (const QSize size : { QSize(920, 680), QSize(1180, 760), QSize(1440, 900), QSize(1920, 1080) }) {
        shell.resize(size);
        shell.press(Qt::Key_End);
        const QRectF next = sceneRect("nextButton");
        QTest::mouseMove(shell.window(), next.center().toPoint());
        EXPECT_EQ(shell.window()->activeFocusItem(), back);
        shell.screenshot(QStringLiteral("checkin-keys-end-%1").arg(size.width()));
    }
}

// A check-in whose finish had more to say than that it was saved says it in the saved panel,
// between the title and the panel's sentence, wrapped within the panel at every size; a review
// kept on this computer is said there once, not also as a failure over the room, and closing
// the panel leaves the conversation room saying neither.
TEST_F(CheckinWindowTest, TheSavedPanelSaysHowTheFinishWent)
{
    testing::FakeRoomModel& model = session.roomModel;
    ASSERT_NE(shell.openWindow(session), nullptr);
    model.update([](auto& s) {
        s.checkinPack = testing::packWithNote();
        s.checkinFlow = CheckinFlow(5, 4, 0);
        s.isCheckinFinished = true;
        s.finishNotice = "Check-in saved";
    });
    ASSERT_TRUE(shell.shows("savedPanel"));
    EXPECT_FALSE(shell.shows("savedNotice")) << "the title says it all";

    model.update([](auto& s) {
        s.finishNotice
            = "Check-in saved. The final transcript could not be made, so the review uses the live "
              "transcript.";
    });
    for (const QSize size : { QSize(920, 680), QSize(1180, 760), QSize(1440, 900) }) {
        SCOPED_TRACE(size.width());
        shell.resize(size);
        ASSERT_TRUE(shell.shows("savedNotice"));
        EXPECT_EQ(shell.text("savedNotice"),
            "The final transcript could not be made, so the review uses the live transcript.");
        const QRectF panel = sceneRect("savedPanel");
        const QRectF notice = sceneRect("savedNotice");
        EXPECT_GT(notice.height(), 10) << "the sentence is drawn";
        EXPECT_GE(notice.left(), panel.left());
        EXPECT_LE(notice.right(), panel.right());
        EXPECT_GT(notice.top(), sceneRect("savedTitle").bottom());
        EXPECT_LT(notice.bottom(), sceneRect("savedSentence").top());
        shell.screenshot(QStringLiteral("checkin-saved-live-transcript-%1").arg(size.width()));
    }

    const QString keptHere = "Your conversation is saved on this computer and ready to review. It reaches "
                             "your account as soon as it can.";
    model.update([&](auto& s) {
        s.finishNotice = keptHere;
        s.errorMessage = keptHere;
    });
    EXPECT_EQ(shell.text("savedNotice"), keptHere);
    EXPECT_FALSE(shell.shows("checkinNotice")) << "said once";
    shell.screenshot("checkin-saved-kept-here");

    shell.click("savedCloseButton");
    EXPECT_EQ(model.checkinCloses, 1);
    EXPECT_EQ(model.state.finishNotice, QString());
    EXPECT_EQ(model.state.errorMessage, QString());
    model.update([](auto& s) {
        s.checkinPack.reset();
        s.checkinFlow.reset();
        s.isCheckinFinished = false;
    });
    ASSERT_TRUE(shell.shows("conversationRoom"));
    EXPECT_FALSE(shell.shows("finishNotice"));
    EXPECT_FALSE(shell.shows("errorBanner"));
}

// The progress strip's section names read at 4.5:1 and more as drawn, the small names of the
// sections passed and ahead included, wherever the window's glows fall behind them.
TEST_F(CheckinWindowTest, TheSectionNamesReadAtFourAndAHalfToOne)
{
    testing::FakeRoomModel& model = session.roomModel;
    ASSERT_NE(shell.openWindow(session), nullptr);
    model.update([](auto& s) {
        s.checkinPack = testing::packWithNote();
        s.checkinFlow = CheckinFlow(5, 1, 0);
    });
    ASSERT_TRUE(shell.shows("checkinRoom"));
    for (const QSize size : { QSize(920, 680), QSize(1180, 760), QSize(1440, 900) }) {
        shell.resize(size);
        const QImage image = shell.window()->grabWindow();
        for (int section = 0; section < segments(); ++section) {
            auto* title = shell.find(QStringLiteral("progressSegment%1").arg(section))
                              ->findChild<QQuickItem*>("segmentTitle");
            ASSERT_NE(title, nullptr);
            const QRect area
                = title->mapRectToScene(QRectF(0, 0, title->width(), title->height())).toAlignedRect();
            EXPECT_GE(testing::pixelRange(image, area).ratio(), 4.5)
                << title->property("text").toString().toStdString() << " at " << size.width();
        }
    }
    shell.screenshot("checkin-section-names");
}

} // namespace
} // namespace lumora
