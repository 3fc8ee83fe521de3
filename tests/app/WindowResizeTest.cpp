#include "CheckinRecords.hpp"
#include "FakePeopleModel.hpp"
#include "FakeShell.hpp"
#include "HistoryRecords.hpp"
#include "ObjectSearch.hpp"
#include "ShellSessionAdapter.hpp"
#include "ViewModelFixture.hpp"
#include "WindowHarness.hpp"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::keyOf;

// The window resized as a person drags it, under a window manager that holds it at its
// minimum: across the edge of the wide arrangement (980) both ways, up to a large screen and
// down to the minimum.
const QSize sizes[] { { 1920, 1080 }, { 920, 680 }, { 981, 700 }, { 979, 700 }, { 1180, 760 } };

class WindowResizeTest : public ::testing::Test {
protected:
    // Every size in turn; the window must hold no repeater's items in a layout, which a resize
    // can read after the repeater deleted them.
    void resizeThroughEverySize(const QString& state)
    {
        SCOPED_TRACE(state.toStdString());
        EXPECT_EQ(shell.layoutsHoldingRepeaters(), QStringList());
        for (const QSize size : sizes)
            shell.resize(size);
    }
    QRectF sceneRect(const QString& name) const
    {
        auto* item = qobject_cast<QQuickItem*>(shell.find(name));
        return item ? item->mapRectToScene(QRectF(0, 0, item->width(), item->height())) : QRectF();
    }
    // The drawn rectangles of the items of that name under the named one.
    QList<QRectF> drawn(const QString& under, const QString& name) const
    {
        QList<QRectF> rects;
        testing::searchUnder(shell.find(under), [&](const QObject* object) {
            const auto* item = qobject_cast<const QQuickItem*>(object);
            if (item && item->objectName() == name && item->isVisible())
                rects.append(item->mapRectToScene(QRectF(0, 0, item->width(), item->height())));
            return false;
        });
        std::ranges::sort(rects, {}, &QRectF::left);
        return rects;
    }

    testing::ViewModelHome home;
    testing::FakeShell fakes;
    // Last, so that the window goes before the objects it reads.
    testing::WindowHarness shell;
};

// The smoke launch's review, opened and closed (Escape, then Done), then the window narrowed
// across 980 to its minimum: the closed sheet follows the window's size with the review's
// labels gone. Opened again it draws the floor's labels at the two edges of the card, and
// resized while open it keeps its columns.
TEST_F(WindowResizeTest, ReviewSheetOpenedAndClosedThenNarrowed)
{
    const auto viewModel = home.viewModel({ "--ui-smoke" });
    ShellSessionAdapter smoke(*viewModel, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(smoke), nullptr);
    shell.resize({ 1600, 1000 });
    shell.press(Qt::Key_2, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return smoke.history()->entries()->rowCount() == 1; }, 60000));
    HistoryEntryList& entries = *smoke.history()->entries();
    const QString card
        = "historyCard:" + entries.data(entries.index(0), HistoryEntryList::EntryIDRole).toString();
    for (const Qt::Key close : { Qt::Key_Escape, Qt::Key_unknown }) {
        shell.click(card);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDetail"); }, 60000));
        if (close == Qt::Key_Escape)
            shell.press(close);
        else
            shell.click("doneButton");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("reviewDetail"); }, 60000));
        for (const QSize size : { QSize(1000, 800), QSize(981, 760), QSize(979, 760), QSize(920, 680) })
            shell.resize(size);
        EXPECT_EQ(shell.layoutsHoldingRepeaters(), QStringList());
        shell.resize({ 1600, 1000 });
    }

    shell.resize({ 920, 680 });
    shell.click(card);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDetail"); }, 60000));
    shell.screenshot("review-after-resizes-920");
    const QRectF floor = sceneRect("floorStrip");
    const QList<QRectF> labels = drawn("floorCard", "floorLabel");
    ASSERT_EQ(labels.size(), 2);
    EXPECT_NEAR(labels[0].left(), floor.left(), 0.5) << "the left seat at the leading edge";
    EXPECT_NEAR(labels[1].right(), floor.right(), 0.5) << "the other at the trailing edge";
    EXPECT_GT(labels[0].width(), 40);
    EXPECT_GT(labels[1].width(), 40);

    // Resized while open, the sheet settles at each size (a polish loop is a warning, which
    // fails the test) with its left column at its width.
    for (const QSize size : sizes) {
        shell.resize(size);
        EXPECT_NEAR(sceneRect("floorCard").width(), 336, 0.5) << size.width();
    }
    shell.screenshot("review-after-resizes-1180");
    shell.close();
}

// The built-in check-in walked forward to its last section and back, the window resized at
// each: every prompt drawn across the card, the progress segments sharing its width.
TEST_F(WindowResizeTest, CheckinSectionsSteppedWhileResizing)
{
    const auto viewModel = home.viewModel({ "--ui-smoke" });
    ShellSessionAdapter smoke(*viewModel, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(shell.openWindow(smoke), nullptr);
    shell.click("checkinButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("checkinRoom"); }, 60000));
    const auto stepTo = [&](const char* button, int section) {
        shell.click(button);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return shell.text("sectionPosition") == QStringLiteral("SECTION %1 OF 5").arg(section); },
            60000));
    };
    const auto check = [&](int section) {
        resizeThroughEverySize(QStringLiteral("section %1").arg(section));
        const QRectF title = sceneRect("sectionTitle");
        const QList<QRectF> prompts = drawn("sectionPrompts", "promptText");
        ASSERT_FALSE(prompts.isEmpty()) << section;
        for (const QRectF& prompt : prompts) {
            EXPECT_NEAR(prompt.left(), title.left(), 0.5) << section;
            EXPECT_NEAR(prompt.width(), title.width(), 0.5) << section;
        }
        const QList<QRectF> segments = drawn("sectionProgress", "capsule");
        ASSERT_EQ(segments.size(), 5);
        EXPECT_NEAR(segments.first().left(), sceneRect("sectionProgress").left(), 0.5);
        EXPECT_NEAR(segments.last().right(), sceneRect("sectionProgress").right(), 0.5);
        for (const QRectF& segment : segments)
            EXPECT_NEAR(segment.width(), segments.first().width(), 0.5) << section;
    };
    for (int section = 1; section <= 5; ++section) {
        check(section);
        if (section < 5)
            stepTo("nextButton", section + 1);
    }
    shell.screenshot("checkin-last-section-after-resizes");
    for (int section = 4; section >= 1; --section) {
        stepTo("backButton", section);
        check(section);
    }
    shell.close();
}

// Every page, sheet and overlay the window shows, through the fakes, with the window resized
// through every size in each state: the conversation room idle, live, with its coaching
// popover, hidden message and guidance overlays; the check-in room at each section, live, with
// its notice and saved; History with a menu, the delete confirmation and the review sheet of
// a conversation and a check-in; People; Account; the setup and migration sheets.
TEST_F(WindowResizeTest, EveryPageSheetAndOverlayAtEverySize)
{
    testing::FakeShellSession& session = fakes.session;
    testing::FakeRoomModel& room = session.roomModel;
    testing::FakeHistoryModel& history = fakes.history;
    ASSERT_NE(shell.openWindow(session), nullptr);
    const auto walk = [&](const QString& state) {
        resizeThroughEverySize(state);
        shell.screenshot("walk-" + state);
    };

    walk("room-idle");
    room.update([](auto& s) {
        s.isRecording = true;
        s.elapsed = 75;
        s.selectedAgendaStep = 1;
        s.liveStepNote = "naming the loop, not the person";
    });
    room.say(0, 2, 12, "I want to talk about dinner tonight and why it matters to me.");
    room.say(1, 12, 30, "I hear you. I check my phone more than I want to admit.");
    walk("room-live");
    room.update([](auto& s) { s.selectedAgendaStep = 3; });
    walk("room-live-next-step");
    shell.click("getUnstuck");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("coachPopover"); }, 60000));
    walk("room-coaching");
    shell.press(Qt::Key_Escape);
    QMetaObject::invokeMethod(shell.find("roomState"), "revealThreadMessage");
    ASSERT_TRUE(shell.shows("hiddenMessage"));
    walk("room-hidden-message");
    shell.click("closeHiddenMessageButton");
    room.update([](auto& s) { s.elapsed = 600; });
    room.say(1, 600, 601, "the same dinner point again");
    room.update([](auto& s) { s.elapsed = 600 + 121; });
    ASSERT_TRUE(shell.shows("floorOverlay"));
    walk("room-floor");
    shell.press(Qt::Key_Escape);
    room.flood(730);
    ASSERT_TRUE(shell.shows("breakOverlay"));
    walk("room-break");
    shell.press(Qt::Key_Escape);
    room.update([](auto& s) {
        s.isRecording = false;
        s.isProcessing = true;
        s.errorMessage = "Processing failed. The temporary recording was deleted.";
    });
    walk("room-processing-error");
    room.update([](auto& s) {
        s.isProcessing = false;
        s.errorMessage.clear();
        s.turns.clear();
        s.annotations.clear();
    });

    room.update([](auto& s) {
        // Sections of one, two and three prompts.
        s.checkinPack = testing::packWithNote();
        s.checkinPack->sections[1].prompts.append(
            { "And one thing you did not say thank you for.", std::nullopt });
        s.checkinPack->sections[2].prompts.append({ { "What is still open between you?", std::nullopt },
            { "Who carries more of it?", "an editor" } });
        s.checkinFlow = CheckinFlow(5, 0, 0);
    });
    ASSERT_TRUE(shell.shows("checkinRoom"));
    for (int section = 0; section < 5; ++section) {
        room.update([&](auto& s) { s.checkinFlow = CheckinFlow(5, section, section * 60); });
        walk(QStringLiteral("checkin-section-%1").arg(section + 1));
    }
    room.update([](auto& s) {
        s.isRecording = true;
        s.isCheckinRunning = true;
        s.elapsed = 300;
    });
    room.say(0, 0, 10, "I noticed you made the coffee every morning");
    room.say(1, 10, 20, "I noticed you called my mother on Sunday");
    room.update([](auto& s) { s.errorMessage = "The microphone stopped. What you said so far is kept."; });
    walk("checkin-live-notice");
    room.update([](auto& s) {
        s.isRecording = false;
        s.isCheckinRunning = false;
        s.errorMessage.clear();
        s.isCheckinFinished = true;
    });
    walk("checkin-saved");
    room.update([](auto& s) {
        s.checkinPack.reset();
        s.checkinFlow.reset();
        s.isCheckinFinished = false;
        s.turns.clear();
    });

    QList<ConversationHistoryEntry> rows { testing::storedRow('a', "Bills"),
        testing::storedRow('b', "Week") };
    rows[1].mode = ConversationMode::checkin;
    history.entries()->replace(rows);
    history.update([](auto& s) { s.results = { testing::conversationReview('a') }; });
    shell.content()->setProperty("section", 1);
    walk("history");
    shell.click("moreActions:" + keyOf('a'));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return shell.find("historyActions:" + keyOf('a'))->property("opened").toBool(); }, 60000));
    walk("history-menu");
    QMetaObject::invokeMethod(
        shell.find("historyActions:" + keyOf('a'))->findChild<QObject*>("deleteItem"), "triggered");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("historyDeleteConfirmation"); }, 60000));
    walk("history-delete-confirmation");
    shell.click("historyDeleteConfirmationCancel");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("historyDeleteConfirmation"); }, 60000));
    shell.click("historyCard:" + keyOf('a'));
    history.answerReview(testing::conversationReview('a'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDetail"); }, 60000));
    walk("review-conversation");
    shell.click("doneButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("reviewDetail"); }, 60000));
    walk("history-review-closed");
    DerivedSessionResult checkin = testing::conversationReview('b');
    checkin.mode = ConversationMode::checkin;
    shell.click("historyCard:" + keyOf('b'));
    history.answerReview(checkin);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDetail"); }, 60000));
    walk("review-checkin");
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("reviewDetail"); }, 60000));

    DerivedSessionResult older = testing::conversationReview('a');
    older.completedAt = older.completedAt.addDays(-7);
    fakes.people.store({ testing::conversationReview('b'), older });
    shell.content()->setProperty("section", 2);
    walk("people");
    shell.content()->setProperty("section", 3);
    walk("account");

    shell.content()->setProperty("section", 0);
    QMetaObject::invokeMethod(shell.content(), "openSetup");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("setupSheet"); }, 60000));
    walk("setup-sheet");
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("setupSheet"); }, 60000));
    walk("setup-sheet-closed");

    session.state.needsMigrationOffer = true;
    ASSERT_NE(shell.openWindow(session), nullptr);
    ASSERT_TRUE(shell.shows("migrationSheet"));
    walk("migration-offer");
    shell.close();
}

} // namespace
} // namespace lumora
