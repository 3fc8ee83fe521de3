#include "CheckinRecords.hpp"
#include "ConversationRoomState.hpp"
#include "CoveredContent.hpp"
#include "FakeShell.hpp"
#include "HistoryRecords.hpp"
#include "Sections.hpp"
#include "ThemePalette.hpp"

#include <QAccessible>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QWindow>
#include <functional>
#include <gtest/gtest.h>

namespace lumora {
namespace {

// What a user of the keyboard alone reaches in the window, and sees of it.
class KeyboardWindowTest : public ::testing::Test, protected testing::FakeShellWindow {
protected:
    QQuickItem* focused() const { return shell.window()->activeFocusItem(); }
    QString focusedName() const { return focused() ? focused()->objectName() : QString(); }
    QQuickItem* item(const QString& name) const { return qobject_cast<QQuickItem*>(shell.find(name)); }
    static QRectF sceneRectOf(const QQuickItem& item)
    {
        return item.mapRectToScene(QRectF(0, 0, item.width(), item.height()));
    }
    // The keyboard's ring shows on the control.
    static bool showsRing(const QQuickItem* control)
    {
        return control && control->property("visualFocus").toBool();
    }

    // Whether Home, End, Page Up and Down, Down and Up scroll the page of that name as far as
    // it goes, a page's height at a time, and a line at a time.
    void scrollsByKeys(const QString& name)
    {
        QQuickItem* page = item(name);
        const auto contentY = [&] { return page->property("contentY").toReal(); };
        const qreal last = page->property("contentHeight").toReal() - page->height();
        ASSERT_GT(last, 200);
        page->setProperty("contentY", 100);
        shell.press(Qt::Key_Home);
        EXPECT_EQ(contentY(), 0);
        shell.press(Qt::Key_End);
        EXPECT_EQ(contentY(), last);
        shell.press(Qt::Key_PageUp);
        EXPECT_NEAR(contentY(), std::max(0.0, last - page->height() * 0.9), 1);
        shell.press(Qt::Key_PageDown);
        EXPECT_EQ(contentY(), last);
        shell.press(Qt::Key_Home);
        shell.press(Qt::Key_Down);
        shell.press(Qt::Key_Down);
        const qreal down = contentY();
        EXPECT_GT(down, 40);
        shell.press(Qt::Key_Up);
        EXPECT_GT(contentY(), 0);
        EXPECT_LT(contentY(), down);
    }

    // Tab from nothing until the control of that name has the keyboard.
    void tabTo(const QString& name)
    {
        shell.window()->contentItem()->forceActiveFocus();
        for (int press = 0; press < 40 && focusedName() != name; ++press)
            shell.press(Qt::Key_Tab);
        ASSERT_EQ(focusedName(), name);
    }

    // Tab on from where the keyboard is until the control of that name has it.
    void tabOnTo(const QString& name)
    {
        for (int press = 0; press < 40 && focusedName() != name; ++press)
            shell.press(Qt::Key_Tab);
        ASSERT_EQ(focusedName(), name);
    }

    // Waits until the keyboard is on a control a screen reader names, which shows, is enabled,
    // Tab comes to, and lies in the part of the window of that name (and is the control named
    // `expected`, when given); gives its name.
    QString landedIn(const QString& part, const QString& expected = {})
    {
        const auto onControl = [&] {
            const QQuickItem* control = focused();
            if (!expected.isEmpty() && focusedName() != expected)
                return false;
            auto* inside = shell.has(part) ? item(part) : nullptr;
            QAccessibleInterface* reader
                = control ? QAccessible::queryAccessibleInterface(focused()) : nullptr;
            return control && control->isVisible() && control->isEnabled() && control->activeFocusOnTab()
                && inside && inside->isVisible() && inside->isAncestorOf(control) && reader
                && !reader->text(QAccessible::Name).isEmpty();
        };
        if (QTest::qWaitFor(onControl, 30000))
            return focusedName();
        ADD_FAILURE() << "the keyboard is on "
                      << (focused() ? focused()->metaObject()->className() : "nothing") << " \""
                      << focusedName().toStdString() << "\", not a control of " << part.toStdString();
        return {};
    }

    // The window over a conversation recorded for 100 seconds, the keyboard on its finish.
    void openRecording()
    {
        ASSERT_NE(shell.openWindow(session), nullptr);
        model.update([](auto& s) {
            s.isRecording = true;
            s.elapsed = 100;
        });
        tabTo("primaryButton");
    }

    // The names of the controls Tab (or Shift+Tab, `backwards`) comes to in `presses` presses,
    // each checked to lie in the overlay of that name.
    QStringList goRound(const QString& overlay, int presses, bool backwards = false)
    {
        QStringList reached;
        for (int press = 0; press < presses; ++press) {
            // Shift+Tab, as the desktop sends it.
            if (backwards)
                shell.press(Qt::Key_Backtab, Qt::ShiftModifier);
            else
                shell.press(Qt::Key_Tab);
            EXPECT_TRUE(focused() && item(overlay)->isAncestorOf(focused()))
                << "Tab left the card for " << focusedName().toStdString();
            reached.append(focusedName());
        }
        return reached;
    }

    testing::FakeRoomModel& model = session.roomModel;
};

// The guidance cards hold the keyboard while they are up: each takes it as it appears, with its
// ring, Tab and Shift+Tab go round the card's own controls, and when the card goes the keyboard
// is back on the control it was on, its ring showing again. Escape, Space and Return close them.
TEST_F(KeyboardWindowTest, GuidanceCardsHoldTheKeyboardWhileTheyAreUp)
{
    ASSERT_NO_FATAL_FAILURE(openRecording());
    model.update([](auto& s) { s.liveCircularity = CircularityEvidence { true, 0.9, "dinner", "", "" }; });
    QQuickItem* finish = focused();

    // The repeated cycle.
    model.sayDistinctTurns([&] { return shell.shows("cycleOverlay"); });
    ASSERT_TRUE(shell.shows("cycleOverlay"));
    EXPECT_EQ(focusedName(), "stepOutButton");
    EXPECT_TRUE(showsRing(focused()));
    EXPECT_EQ(
        goRound("cycleOverlay", 3), QStringList({ "closeCycleButton", "stepOutButton", "closeCycleButton" }));
    EXPECT_EQ(goRound("cycleOverlay", 2, true), QStringList({ "stepOutButton", "closeCycleButton" }));
    shell.press(Qt::Key_Escape);
    EXPECT_FALSE(shell.shows("cycleOverlay"));
    EXPECT_EQ(focused(), finish) << "the keyboard is on " << focusedName().toStdString();
    EXPECT_TRUE(showsRing(finish));

    // The floor prompt, closed by Space on its button.
    model.update([](auto& s) { s.elapsed = 88 + 121; });
    ASSERT_TRUE(shell.shows("floorOverlay"));
    EXPECT_EQ(focusedName(), "floorButton");
    EXPECT_EQ(goRound("floorOverlay", 2), QStringList({ "closeFloorButton", "floorButton" }));
    EXPECT_EQ(goRound("floorOverlay", 2, true), QStringList({ "closeFloorButton", "floorButton" }));
    shell.press(Qt::Key_Space);
    EXPECT_FALSE(shell.shows("floorOverlay"));
    EXPECT_EQ(focused(), finish) << "the keyboard is on " << focusedName().toStdString();

    // The break, closed by Return on "Keep talking".
    model.flood(300);
    ASSERT_TRUE(shell.shows("breakOverlay"));
    EXPECT_EQ(focusedName(), "keepTalkingButton");
    EXPECT_EQ(goRound("breakOverlay", 4),
        QStringList({ "pauseAndSaveButton", "closeBreakButton", "keepTalkingButton", "pauseAndSaveButton" }));
    EXPECT_EQ(goRound("breakOverlay", 3, true),
        QStringList({ "keepTalkingButton", "closeBreakButton", "pauseAndSaveButton" }));
    shell.press(Qt::Key_Backtab, Qt::ShiftModifier);
    shell.press(Qt::Key_Return);
    EXPECT_FALSE(shell.shows("breakOverlay"));
    EXPECT_EQ(model.finishes, 0);
    EXPECT_EQ(focused(), finish) << "the keyboard is on " << focusedName().toStdString();

    // Again, looked at with its first control focused at three sizes. The narrowest window
    // makes the room anew, "Finish conversation" with it: when the card goes, the keyboard
    // leaves it all the same.
    model.update([](auto& s) { s.elapsed = 500; });
    model.flood(500);
    ASSERT_TRUE(shell.shows("breakOverlay"));
    for (const QSize size : { QSize(1440, 900), QSize(1180, 760), QSize(920, 680) }) {
        shell.resize(size);
        EXPECT_EQ(focusedName(), "keepTalkingButton");
        shell.screenshot(QStringLiteral("keyboard-break-%1").arg(size.width()));
    }
    shell.press(Qt::Key_Escape);
    EXPECT_FALSE(shell.shows("breakOverlay"));
    EXPECT_FALSE(focused() && item("breakOverlay")->isAncestorOf(focused()))
        << "the hidden card keeps the keyboard";
}

// A card that comes up while the question about quitting is open leaves the keyboard to the
// question: Return chooses its "Finish and save", not a button of the card under it. Once the
// question goes, the card takes the keyboard, its ring drawn.
TEST_F(KeyboardWindowTest, ACardUnderTheQuitQuestionLeavesItTheKeyboard)
{
    ASSERT_NO_FATAL_FAILURE(openRecording());
    shell.press(Qt::Key_Q, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("quitDialog"); }, 60000));
    model.flood(100);
    ASSERT_TRUE(shell.shows("breakOverlay"));
    EXPECT_EQ(focusedName(), "saveAndQuitButton");

    shell.press(Qt::Key_Return);
    EXPECT_EQ(session.quits, QList<bool> { true });
    EXPECT_EQ(model.finishes, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("quitDialog"); }, 60000));
    ASSERT_TRUE(shell.shows("breakOverlay")) << "a key of the question pressed the card";
    EXPECT_EQ(focusedName(), "keepTalkingButton");
    auto* ring = focused()->findChild<QQuickItem*>("focusRing");
    ASSERT_NE(ring, nullptr);
    const QPoint left = ring->mapToScene(QPointF(1, ring->height() / 2)).toPoint();
    EXPECT_EQ(shell.window()->grabWindow().pixelColor(left), ThemePalette::focusRing());
    // Asked again over the card, and kept going: the keyboard is back on the card, ring and all.
    shell.press(Qt::Key_Q, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("quitDialog"); }, 60000));
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("quitDialog"); }, 60000));
    EXPECT_EQ(focusedName(), "keepTalkingButton");
    EXPECT_EQ(shell.window()->grabWindow().pixelColor(left), ThemePalette::focusRing());
    shell.press(Qt::Key_Escape);
    EXPECT_FALSE(shell.shows("breakOverlay"));
    EXPECT_EQ(focusedName(), "primaryButton");
}

// Tab through History and Account at the narrowest window, and History at the common one:
// each control the keyboard comes to on the page lies whole in view, its ring included, and
// Account's "Sign out" and "Delete account" are among them. Page Up and Down, the arrows, Home
// and End scroll the page shown, wherever the keyboard is: nowhere yet, on the header bar, on
// the page, or on a page no longer shown.
TEST_F(KeyboardWindowTest, PagesFollowTheKeyboardAndScrollByItsKeys)
{
    QList<ConversationHistoryEntry> rows;
    for (const char key : QByteArray("abcdefgh"))
        rows.append(testing::storedRow(key, QStringLiteral("Conversation %1").arg(QLatin1Char(key))));
    history.entries()->replace(rows);
    account.state.isSignedIn = true;
    account.state.deviceLabel = "This computer";
    ASSERT_NE(shell.openWindow(session), nullptr);
    shell.resize(QSize(920, 680));
    shell.content()->setProperty("section", Sections::Account);
    shell.waitForFrame();
    ASSERT_EQ(focused(), shell.content()) << "the keyboard is on nothing of the window yet";
    scrollsByKeys("accountScroll");

    struct Walk {
        QSize size;
        int section;
        const char* page;
    };
    for (const Walk walk : { Walk { QSize(920, 680), Sections::History, "historyScroll" },
             Walk { QSize(1180, 760), Sections::History, "historyScroll" },
             Walk { QSize(920, 680), Sections::Account, "accountScroll" },
             Walk { QSize(1180, 760), Sections::Account, "accountScroll" },
             Walk { QSize(1440, 900), Sections::Account, "accountScroll" } }) {
        SCOPED_TRACE(walk.page);
        SCOPED_TRACE(walk.size.width());
        shell.resize(walk.size);
        shell.content()->setProperty("section", walk.section);
        shell.waitForFrame();
        QQuickItem* page = item(walk.page);
        ASSERT_NE(page, nullptr);
        page->setProperty("contentY", 0);
        shell.window()->contentItem()->forceActiveFocus();
        QStringList reached;
        for (int press = 0; press < 60; ++press) {
            shell.press(Qt::Key_Tab);
            QQuickItem* control = focused();
            if (!control || !page->isAncestorOf(control))
                continue;
            if (reached.contains(control->objectName()))
                break;
            reached.append(control->objectName());
            const QRectF ring = sceneRectOf(*control).adjusted(-4, -4, 4, 4);
            EXPECT_TRUE(sceneRectOf(*page).contains(ring))
                << control->objectName().toStdString() << " lies out of view at " << ring.y();
            if (control->objectName() == "deleteAccountButton")
                shell.screenshot(QStringLiteral("keyboard-account-delete-%1").arg(walk.size.width()));
            if (control->objectName() == "historyCard:" + testing::keyOf('h'))
                shell.screenshot(QStringLiteral("keyboard-history-last-%1").arg(walk.size.width()));
        }
        EXPECT_GE(reached.size(), walk.section == Sections::History ? 16 : 5)
            << reached.join(", ").toStdString();
        if (walk.section == Sections::Account) {
            EXPECT_TRUE(reached.contains("signOutButton"));
            EXPECT_TRUE(reached.contains("deleteAccountButton"));
        }
    }

    // A card pressed with the pointer where it shows only in part stays where it is.
    shell.resize(QSize(920, 680));
    shell.content()->setProperty("section", Sections::History);
    shell.waitForFrame();
    QQuickItem* historyPage = item("historyScroll");
    historyPage->setProperty("contentY", 100);
    QQuickItem* card = item("historyCard:" + testing::keyOf('c'));
    const QRectF shown = sceneRectOf(*card).intersected(sceneRectOf(*historyPage));
    ASSERT_TRUE(shown.height() > 20 && shown.height() < card->height());
    QTest::mouseClick(shell.window(), Qt::LeftButton, Qt::NoModifier, shown.center().toPoint());
    EXPECT_EQ(historyPage->property("contentY").toReal(), 100);
    EXPECT_TRUE(history.calls.contains("fetch " + testing::keyOf('c')));
    history.answerReview(std::nullopt);

    // Account at the narrowest window again. A card of History, hidden now, can keep the
    // keyboard: its page leaves the keys be.
    shell.content()->setProperty("section", Sections::Account);
    shell.waitForFrame();
    for (const QString& start : { QStringLiteral("tabAccount"), QStringLiteral("signOutButton"),
             "historyCard:" + testing::keyOf('c') }) {
        SCOPED_TRACE(start.toStdString());
        item(start)->forceActiveFocus(Qt::TabFocusReason);
        scrollsByKeys("accountScroll");
    }
}

// When the control the keyboard is on goes or turns disabled, the keyboard moves on to the
// control that carries the task on, with its ring, rather than to nowhere: the finish notice
// after "Finish conversation", the mark when the rehearsal starts, the check-in's first control
// as it opens, "Back" on its last section, "Read it in History" once it is saved, the way to
// sign in after signing out, and after a floor card that followed the cycle card, the control it
// was on before the first card.
TEST_F(KeyboardWindowTest, TheKeyboardMovesOnWhenItsControlGoes)
{
    const auto movedTo = [&](const char* name) {
        const bool moved = QTest::qWaitFor([&] { return focusedName() == QLatin1String(name); }, 60000);
        // The mark draws its ring while it has the keyboard at all.
        return moved && (focusedName() == "brandMark" || showsRing(focused()));
    };
    ASSERT_NO_FATAL_FAILURE(openRecording());
    QQuickItem* finish = focused();
    model.update([](auto& s) { s.liveCircularity = CircularityEvidence { true, 0.9, "dinner", "", "" }; });
    model.sayDistinctTurns([&] { return shell.shows("cycleOverlay"); });
    ASSERT_TRUE(shell.shows("cycleOverlay"));
    model.update([](auto& s) { s.elapsed = 88 + 121; });
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("floorOverlay"); }, 60000));
    shell.press(Qt::Key_Escape);
    ASSERT_FALSE(shell.shows("floorOverlay"));
    EXPECT_EQ(focused(), finish) << "after the floor card the keyboard is on " << focusedName().toStdString();

    // The stage's row takes no press for a moment after its buttons change.
    auto* stage = qobject_cast<ConversationRoomState*>(shell.find("roomState"));
    ASSERT_NE(stage, nullptr);
    const auto rowSettles = [&] { return QTest::qWaitFor([&] { return stage->takesRowPress(); }, 60000); };
    finish->forceActiveFocus(Qt::TabFocusReason);
    ASSERT_TRUE(rowSettles());
    shell.press(Qt::Key_Return);
    EXPECT_EQ(model.finishes, 1);
    model.update([](auto& s) {
        s.isRecording = false;
        s.elapsed = 0;
        s.finishNotice = "Conversation ready to review";
    });
    EXPECT_TRUE(movedTo("finishNoticeAction"))
        << "after the finish the keyboard is on " << focusedName().toStdString();
    shell.screenshot("keyboard-on-finish-notice");
    model.update([](auto& s) { s.finishNotice.clear(); });

    tabTo("rehearsalButton");
    ASSERT_TRUE(rowSettles());
    shell.press(Qt::Key_Return);
    ASSERT_EQ(shell.text("primaryButton"), "End rehearsal");
    EXPECT_TRUE(movedTo("brandMark"))
        << "in the rehearsal the keyboard is on " << focusedName().toStdString();
    item("primaryButton")->forceActiveFocus(Qt::TabFocusReason);
    ASSERT_TRUE(rowSettles());
    shell.press(Qt::Key_Return);
    ASSERT_EQ(shell.text("primaryButton"), "Start conversation");

    model.update([](auto& s) {
        s.checkinPack = testing::packWithNote();
        s.checkinFlow = CheckinFlow(5, 3, 0);
    });
    ASSERT_TRUE(shell.shows("checkinRoom"));
    EXPECT_TRUE(movedTo("leaveCheckinButton"))
        << "in the check-in the keyboard is on " << focusedName().toStdString();
    item("nextButton")->forceActiveFocus(Qt::TabFocusReason);
    model.update([](auto& s) { s.checkinFlow = CheckinFlow(5, 4, 0); });
    EXPECT_TRUE(movedTo("backButton"))
        << "on the last section the keyboard is on " << focusedName().toStdString();
    shell.screenshot("keyboard-on-back");
    model.update([](auto& s) { s.isRecording = true; });
    item("checkinPrimaryButton")->forceActiveFocus(Qt::TabFocusReason);
    model.update([](auto& s) {
        s.isRecording = false;
        s.isCheckinFinished = true;
        s.finishNotice = "Check-in saved";
    });
    EXPECT_TRUE(movedTo("readInHistoryButton"))
        << "once saved the keyboard is on " << focusedName().toStdString();
    model.update([](auto& s) {
        s.checkinPack.reset();
        s.checkinFlow.reset();
        s.isCheckinFinished = false;
        s.finishNotice.clear();
    });

    account.update([](auto& s) { s.isSignedIn = true; });
    shell.click("sectionAccount");
    item("signOutButton")->forceActiveFocus(Qt::TabFocusReason);
    shell.press(Qt::Key_Return);
    EXPECT_EQ(account.calls.value(account.calls.size() - 1), "signOut");
    account.update([](auto& s) { s.isSignedIn = false; });
    EXPECT_TRUE(movedTo("goToConversationButton"))
        << "signed out the keyboard is on " << focusedName().toStdString();
    shell.screenshot("keyboard-on-sign-in");
}

// Wherever the control the keyboard is on goes, or the page it is on changes, the keyboard
// lands on a control of the page shown (rather than nowhere, or on a hidden control whose keys
// still press it): the first launch's welcome sheet closed, the room made anew at another width,
// a finish whose final read is slow, the notice's and the check-in's "Read it in History", the
// sections chosen by Ctrl+1/2/3 and by the room's header, the check-in left and closed once
// saved, a partner's code made (its buttons next), "Go to Conversation" and a deletion.
TEST_F(KeyboardWindowTest, WhereverItsControlGoesTheKeyboardLandsOnAControlOfThePageShown)
{
    history.entries()->replace({ testing::storedRow('a', "Bills"), testing::storedRow('b', "Dinner") });
    account.state.isSignedIn = true;
    session.state.recordingAgreementAccepted = false;
    ASSERT_NE(shell.openWindow(session), nullptr);
    auto* stage = qobject_cast<ConversationRoomState*>(shell.find("roomState"));
    const auto rowSettles = [&] { return QTest::qWaitFor([&] { return stage->takesRowPress(); }, 30000); };
    const auto checkinClosed = [&] {
        model.update([](auto& s) {
            s.checkinPack.reset();
            s.checkinFlow.reset();
            s.isCheckinFinished = false;
            s.finishNotice.clear();
        });
    };

    ASSERT_TRUE(shell.shows("setupSheet"));
    ASSERT_NO_FATAL_FAILURE(tabOnTo("setupCloseButton"));
    shell.press(Qt::Key_Return);
    EXPECT_NE(landedIn("conversationRoom"), "") << "after the welcome sheet's Close";
    shell.screenshot("keyboard-lands-after-welcome");

    ASSERT_NO_FATAL_FAILURE(tabTo("primaryButton"));
    shell.resize(QSize(920, 680));
    EXPECT_EQ(landedIn("compactRoom", "primaryButton"), "primaryButton");
    shell.screenshot("keyboard-lands-narrow-room-920");
    shell.resize(testing::WindowHarness::desktop);
    EXPECT_EQ(landedIn("wideRoom", "primaryButton"), "primaryButton");

    // While the final read runs, then on the way to the review, and there.
    model.update([](auto& s) {
        s.isRecording = true;
        s.elapsed = 100;
    });
    ASSERT_NO_FATAL_FAILURE(tabTo("primaryButton"));
    ASSERT_TRUE(rowSettles());
    shell.press(Qt::Key_Return);
    ASSERT_EQ(model.finishes, 1);
    model.update([](auto& s) {
        s.isRecording = false;
        s.isProcessing = true;
    });
    EXPECT_NE(landedIn("conversationRoom"), "") << "while the final read runs";
    shell.screenshot("keyboard-lands-during-final-read");
    model.update([](auto& s) {
        s.isProcessing = false;
        s.finishNotice = "Conversation ready to review";
    });
    ASSERT_EQ(landedIn("conversationRoom", "finishNoticeAction"), "finishNoticeAction");
    shell.press(Qt::Key_Return);
    ASSERT_EQ(section(), Sections::History);
    EXPECT_NE(landedIn("historyScroll"), "") << "after the notice's Read it in History";
    shell.screenshot("keyboard-lands-on-history");

    for (const auto& [key, page] :
        { std::pair(Qt::Key_1, "conversationRoom"), std::pair(Qt::Key_2, "historyScroll"),
            std::pair(Qt::Key_3, "peopleScroll"), std::pair(Qt::Key_1, "conversationRoom") }) {
        shell.press(key, Qt::ControlModifier);
        EXPECT_NE(landedIn(page), "") << "after Ctrl+" << key - Qt::Key_0;
    }
    for (const auto& [button, page] :
        { std::pair("sectionHistory", "historyScroll"), std::pair("sectionAccount", "accountScroll") }) {
        shell.press(Qt::Key_1, Qt::ControlModifier);
        ASSERT_NO_FATAL_FAILURE(tabTo(button));
        shell.press(Qt::Key_Return);
        EXPECT_NE(landedIn(page), "") << "after the room's " << button;
    }

    // A code made: the keyboard is on its buttons, which Tab goes on through.
    for (const char* button : { "inviteButton", "newCodeButton" }) {
        const std::string made = std::string("after ") + button;
        ASSERT_NO_FATAL_FAILURE(tabTo(button));
        shell.press(Qt::Key_Return);
        ASSERT_EQ(account.calls.value(account.calls.size() - 1), "createInvite");
        account.update([](auto& s) { s.isPairingBusy = true; });
        account.update([](auto& s) {
            s.isPairingBusy = false;
            s.pairingStep = AccountSession::FreshCode;
            s.inviteCode = "ABCD-EFGH-JKLM";
        });
        EXPECT_EQ(landedIn("pairingSection", "copyCodeButton"), "copyCodeButton") << made;
        shell.screenshot("keyboard-lands-on-copy-code");
        shell.press(Qt::Key_Tab);
        EXPECT_EQ(focusedName(), "inviteDoneButton") << made;
        if (focusedName() != "inviteDoneButton") {
            ASSERT_NO_FATAL_FAILURE(tabTo("inviteDoneButton"));
        }
        shell.press(Qt::Key_Return);
        account.update([](auto& s) { s.pairingStep = AccountSession::Waiting; });
        EXPECT_EQ(landedIn("pairingSection", "newCodeButton"), "newCodeButton") << "after Done";
    }
    account.update([](auto& s) { s.isSignedIn = false; });
    ASSERT_NO_FATAL_FAILURE(tabTo("goToConversationButton"));
    shell.press(Qt::Key_Return);
    EXPECT_NE(landedIn("conversationRoom"), "") << "after Go to Conversation";

    // The check-in left, closed once saved, and read in History.
    ASSERT_NO_FATAL_FAILURE(tabTo("checkinButton"));
    ASSERT_TRUE(rowSettles());
    shell.press(Qt::Key_Return);
    ASSERT_EQ(model.checkinOpens, 1);
    model.update([](auto& s) {
        s.checkinPack = testing::packWithNote();
        s.checkinFlow = CheckinFlow(5, 0, 0);
    });
    ASSERT_EQ(landedIn("checkinRoom", "leaveCheckinButton"), "leaveCheckinButton");
    shell.press(Qt::Key_Return);
    ASSERT_EQ(model.checkinCloses, 1);
    checkinClosed();
    EXPECT_NE(landedIn("conversationRoom"), "") << "after Leave check-in";
    shell.screenshot("keyboard-lands-after-check-in");
    for (const auto& [button, page] : { std::pair("savedCloseButton", "conversationRoom"),
             std::pair("readInHistoryButton", "historyScroll") }) {
        model.update([](auto& s) {
            s.checkinPack = testing::packWithNote();
            s.checkinFlow = CheckinFlow(5, 4, 0);
            s.isCheckinFinished = true;
            s.finishNotice = "Check-in saved";
        });
        ASSERT_NO_FATAL_FAILURE(tabTo(button));
        shell.press(Qt::Key_Return);
        checkinClosed();
        EXPECT_NE(landedIn(page), "") << "after the saved check-in's " << button;
    }

    // A conversation deleted from its review.
    ASSERT_NO_FATAL_FAILURE(tabTo("historyCard:" + testing::keyOf('a')));
    shell.press(Qt::Key_Return);
    history.answerReview(testing::conversationReview('a'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDetail"); }, 30000));
    ASSERT_NO_FATAL_FAILURE(tabOnTo("reviewDeleteButton"));
    shell.press(Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDeleteConfirmation"); }, 30000));
    ASSERT_NO_FATAL_FAILURE(tabOnTo("reviewDeleteConfirmationConfirm"));
    shell.press(Qt::Key_Return);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return history.calls.contains("remove " + testing::keyOf('a')); }, 30000));
    history.entries()->replace({ testing::storedRow('b', "Dinner") });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("reviewDetail"); }, 30000));
    EXPECT_NE(landedIn("historyScroll"), "") << "after a confirmed Delete";
    shell.screenshot("keyboard-lands-after-delete");
}

// Where the keyboard is after what the person did not do with it (the window left and come
// back to, a step of a sheet, a resize), by keys and as a screen reader is told, at the two
// sizes of the window a person uses most.
class KeyboardPlaceTest : public KeyboardWindowTest, public ::testing::WithParamInterface<QSize> {
protected:
    void open()
    {
        ASSERT_NE(shell.openWindow(session), nullptr);
        shell.resize(GetParam());
    }

    // Another window takes the focus, then this one again: a person looks at a browser, where
    // `meanwhile` happens, and comes back.
    void switchAway(const std::function<void()>& meanwhile = {})
    {
        QWindow other;
        other.resize(320, 240);
        other.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other, 30000));
        if (meanwhile)
            meanwhile();
        // What this window set off as it lost the focus has run.
        shell.waitForFrame();
        shell.window()->requestActivate();
        ASSERT_TRUE(QTest::qWaitForWindowActive(shell.window(), 30000));
        shell.waitForFrame();
    }

    // What a screen reader is told has the keyboard: the names of the dialogs it lies in,
    // outermost first, then its own, joined by " > "; a node that says it is not focused, or
    // lies in content a dialog covers, says so.
    QString heardFocus() const
    {
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(shell.window());
        QAccessibleInterface* focus = window ? window->focusChild() : nullptr;
        if (!focus)
            return QStringLiteral("nothing");
        QStringList heard { focus->text(QAccessible::Name) };
        if (!focus->state().focused)
            heard.last() += QStringLiteral(" (not focused)");
        if (focus->state().invisible)
            heard.last() += QStringLiteral(" (hidden)");
        for (QAccessibleInterface* above = focus->parent(); above && above != window;
             above = above->parent()) {
            // Content that a dialog can cover stands out of the tree while it is not.
            if (const auto* content = qobject_cast<CoveredContent*>(above->object())) {
                if (content->isCovered())
                    heard.prepend(QStringLiteral("(covered)"));
            } else if (above->state().invisible) {
                heard.prepend(QStringLiteral("(hidden)"));
            } else if (above->role() == QAccessible::Dialog) {
                heard.prepend(above->text(QAccessible::Name));
            }
        }
        return heard.join(QStringLiteral(" > "));
    }

    // The keyboard, put by keys on the control of that name, is there again after a window
    // switch (during which `meanwhile` happens), its ring as it was, and a screen reader is told so.
    void comesBack(const QString& control, const QString& heard, const std::function<void()>& meanwhile = {})
    {
        ASSERT_EQ(focusedName(), control);
        ASSERT_EQ(heardFocus(), heard);
        const bool ring = showsRing(focused());
        ASSERT_NO_FATAL_FAILURE(switchAway(meanwhile));
        EXPECT_EQ(focusedName(), control) << "after a window switch";
        EXPECT_EQ(showsRing(focused()), ring) << "the ring after a window switch";
        EXPECT_EQ(heardFocus(), heard) << "after a window switch";
        shell.screenshot(QStringLiteral("keyboard-back-on-%1-%2").arg(control).arg(GetParam().width()));
        // Where it is not, the walk goes on from where it was.
        if (focusedName() != control)
            item(control)->forceActiveFocus(Qt::TabFocusReason);
    }

    // A recording in which each seat has spoken, so that both can be coached.
    void recordBothSeats()
    {
        model.update([](auto& s) {
            s.isRecording = true;
            s.elapsed = 40;
        });
        model.say(0, 2, 12, "I want to talk about dinner tonight.");
        model.say(1, 12, 30, "I check my phone more than I want to admit.");
    }
};

INSTANTIATE_TEST_SUITE_P(Sizes, KeyboardPlaceTest, ::testing::Values(QSize(920, 680), QSize(1180, 760)),
    [](const ::testing::TestParamInfo<QSize>& size) { return "At" + ::testing::PrintToString(size.param); });

// A window that loses the focus and has it again gives the keyboard back where the person left
// it, with the ring it had: in each sheet, question, card and popover (Escape then closes it),
// and with none up on the room's mark, People's Save and the check-in's Back.
TEST_P(KeyboardPlaceTest, AWindowSwitchGivesTheKeyboardBackWhereItWas)
{
    history.entries()->replace({ testing::storedRow('a', "Bills") });
    session.state.recordingAgreementAccepted = false;
    ASSERT_NO_FATAL_FAILURE(open());

    ASSERT_TRUE(shell.shows("setupSheet"));
    ASSERT_NO_FATAL_FAILURE(tabOnTo("agreeButton"));
    ASSERT_NO_FATAL_FAILURE(comesBack("agreeButton", "Welcome to Corvane > Both people agree"));
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("setupSheet"); }, 30000));
    session.update([](auto& s) { s.recordingAgreementAccepted = true; });

    ASSERT_NO_FATAL_FAILURE(tabTo("brandMark"));
    ASSERT_NO_FATAL_FAILURE(comesBack("brandMark", "Corvane mark"));

    // The questions and cards of a conversation, and a seat's coaching.
    recordBothSeats();
    shell.press(Qt::Key_Q, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("quitDialog"); }, 30000));
    ASSERT_NO_FATAL_FAILURE(tabOnTo("keepGoingButton"));
    ASSERT_NO_FATAL_FAILURE(comesBack("keepGoingButton", "Quit during the conversation? > Keep going"));
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("quitDialog"); }, 30000));

    // The repeated cycle comes up while the person is away, and has the keyboard as they come
    // back.
    ASSERT_NO_FATAL_FAILURE(switchAway([&] {
        model.update([](auto& s) {
            s.elapsed = 100;
            s.liveCircularity = CircularityEvidence { true, 0.9, "dinner", "", "" };
        });
        model.sayDistinctTurns([&] { return shell.shows("cycleOverlay"); });
    }));
    ASSERT_TRUE(shell.shows("cycleOverlay"));
    EXPECT_EQ(landedIn("cycleOverlay", "stepOutButton"), "stepOutButton");
    ASSERT_NO_FATAL_FAILURE(tabOnTo("closeCycleButton"));
    ASSERT_NO_FATAL_FAILURE(
        comesBack("closeCycleButton", shell.text("cycleHeadline") + " > Close repeated cycle guidance"));
    shell.press(Qt::Key_Escape);
    ASSERT_FALSE(shell.shows("cycleOverlay"));

    // The break comes up under the quit question while the person is away, and takes the
    // keyboard once the question goes.
    shell.press(Qt::Key_Q, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("quitDialog"); }, 30000));
    ASSERT_NO_FATAL_FAILURE(tabOnTo("discardButton"));
    ASSERT_NO_FATAL_FAILURE(comesBack("discardButton", "Quit during the conversation? > Discard", [&] {
        model.flood(300);
        ASSERT_TRUE(shell.shows("breakOverlay"));
    }));
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("quitDialog"); }, 30000));
    EXPECT_EQ(landedIn("breakOverlay", "keepTalkingButton"), "keepTalkingButton");
    ASSERT_NO_FATAL_FAILURE(tabOnTo("pauseAndSaveButton"));
    ASSERT_NO_FATAL_FAILURE(comesBack("pauseAndSaveButton", shell.text("breakHeadline") + " > Pause & save"));
    shell.press(Qt::Key_Escape);
    ASSERT_FALSE(shell.shows("breakOverlay"));

    ASSERT_NO_FATAL_FAILURE(tabTo("getUnstuck"));
    shell.press(Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("coachPopover"); }, 30000));
    ASSERT_NO_FATAL_FAILURE(tabOnTo("readAgain"));
    ASSERT_NO_FATAL_FAILURE(
        comesBack("readAgain", shell.text("coachTitle") + " > Read the conversation again"));
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("coachPopover"); }, 30000));
    model.update([](auto& s) {
        s.isRecording = false;
        s.elapsed = 0;
    });

    // A review and the question about deleting it.
    shell.press(Qt::Key_2, Qt::ControlModifier);
    ASSERT_NO_FATAL_FAILURE(tabTo("historyCard:" + testing::keyOf('a')));
    shell.press(Qt::Key_Return);
    history.answerReview(testing::conversationReview('a'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDetail"); }, 30000));
    ASSERT_NO_FATAL_FAILURE(tabOnTo("doneButton"));
    ASSERT_NO_FATAL_FAILURE(comesBack("doneButton", "Conversation review > Done"));
    ASSERT_NO_FATAL_FAILURE(tabOnTo("reviewDeleteButton"));
    shell.press(Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDeleteConfirmation"); }, 30000));
    ASSERT_NO_FATAL_FAILURE(tabOnTo("reviewDeleteConfirmationConfirm"));
    ASSERT_NO_FATAL_FAILURE(
        comesBack("reviewDeleteConfirmationConfirm", "Delete this conversation? > Delete"));
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("reviewDeleteConfirmation"); }, 30000));
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("reviewDetail"); }, 30000));

    // People's Save, and the check-in's Back.
    shell.press(Qt::Key_3, Qt::ControlModifier);
    ASSERT_NO_FATAL_FAILURE(tabTo("rightEditorSave"));
    ASSERT_NO_FATAL_FAILURE(comesBack("rightEditorSave", "Save"));
    shell.press(Qt::Key_1, Qt::ControlModifier);
    model.update([](auto& s) {
        s.checkinPack = testing::packWithNote();
        s.checkinFlow = CheckinFlow(5, 2, 0);
    });
    ASSERT_TRUE(shell.shows("checkinRoom"));
    ASSERT_NO_FATAL_FAILURE(tabTo("backButton"));
    ASSERT_NO_FATAL_FAILURE(comesBack("backButton", "Back"));
}

// A step of the welcome sheet leaves the keyboard in the sheet, on the step's next control,
// whatever the window under it offers to take a stray keyboard: with the check-in open,
// "Both people agree" leads on to "Sign in with Apple"; with the room's finish notice showing,
// a sign-in that completes while the person is in the browser leads on to "Enter the room".
TEST_P(KeyboardPlaceTest, TheWelcomeSheetsStepsKeepTheKeyboardInTheSheet)
{
    session.state.recordingAgreementAccepted = false;
    ASSERT_NO_FATAL_FAILURE(open());
    // The person closes the sheet the first launch shows, and opens the check-in.
    ASSERT_TRUE(shell.shows("setupSheet"));
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("setupSheet"); }, 30000));
    model.update([](auto& s) {
        s.startReadiness = RoomModel::NeedsRecordingAgreement;
        s.checkinPack = testing::packWithNote();
        s.checkinFlow = CheckinFlow(5, 0, 0);
    });
    ASSERT_TRUE(shell.shows("checkinRoom"));
    ASSERT_NO_FATAL_FAILURE(tabTo("checkinPrimaryButton"));
    shell.press(Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("setupSheet"); }, 30000));
    ASSERT_NO_FATAL_FAILURE(tabOnTo("agreeButton"));
    shell.press(Qt::Key_Return);
    EXPECT_EQ(landedIn("setupFlow", "signInButton"), "signInButton") << "after Both people agree";
    EXPECT_EQ(heardFocus(), "Welcome to Corvane > Sign in with Apple");
    shell.screenshot(QStringLiteral("keyboard-sheet-sign-in-%1").arg(GetParam().width()));

    // The check-in closed; the room's finish notice offers its "Read it in History".
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("setupSheet"); }, 30000));
    model.update([](auto& s) {
        s.checkinPack.reset();
        s.checkinFlow.reset();
        s.startReadiness = RoomModel::NeedsSignIn;
        s.finishNotice = "Conversation ready to review";
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("finishNoticeAction"); }, 30000));
    ASSERT_NO_FATAL_FAILURE(tabTo("primaryButton"));
    shell.press(Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("setupSheet"); }, 30000));
    ASSERT_NO_FATAL_FAILURE(tabOnTo("signInButton"));
    shell.press(Qt::Key_Return);
    ASSERT_EQ(session.signInStarts, 1);
    ASSERT_NO_FATAL_FAILURE(switchAway([&] {
        session.update([](auto& s) {
            s.isAppleAuthorizationActive = false;
            s.isSignedIn = true;
        });
    }));
    EXPECT_EQ(landedIn("setupFlow", "enterRoomButton"), "enterRoomButton") << "after the sign-in";
    EXPECT_EQ(heardFocus(), "Welcome to Corvane > Enter the room");
    EXPECT_TRUE(showsRing(focused()));
    shell.screenshot(QStringLiteral("keyboard-sheet-signed-in-%1").arg(GetParam().width()));
}

// The room made anew at the other size keeps the keyboard on the seat's own "Get unstuck": both
// seats' read alike and are told apart by whose they are.
TEST_P(KeyboardPlaceTest, AResizeKeepsTheKeyboardOnTheSameSeatsControl)
{
    ASSERT_NO_FATAL_FAILURE(open());
    recordBothSeats();
    const QString secondSeat = "Asks the coach for a suggestion for Person 2";
    const auto description = [&] {
        QAccessibleInterface* reader = focused() ? QAccessible::queryAccessibleInterface(focused()) : nullptr;
        return reader ? reader->text(QAccessible::Description) : QString();
    };
    const auto onSecondSeat
        = [&] { return focusedName() == "getUnstuck" && item("rightCorner")->isAncestorOf(focused()); };
    ASSERT_NO_FATAL_FAILURE(tabTo("getUnstuck"));
    for (int press = 0; press < 40 && !onSecondSeat(); ++press)
        shell.press(Qt::Key_Tab);
    ASSERT_TRUE(onSecondSeat());
    ASSERT_EQ(description(), secondSeat);
    const QSize other = GetParam().width() == 920 ? testing::WindowHarness::desktop : QSize(920, 680);
    for (const QSize size : { other, GetParam() }) {
        SCOPED_TRACE(size.width());
        shell.resize(size);
        EXPECT_EQ(landedIn("rightCorner", "getUnstuck"), "getUnstuck");
        EXPECT_EQ(description(), secondSeat);
        EXPECT_EQ(heardFocus(), "Get unstuck");
        EXPECT_TRUE(showsRing(focused()));
    }
    shell.screenshot(QStringLiteral("keyboard-second-seat-%1").arg(GetParam().width()));
}

// The question about deleting a conversation from its review opens on its Cancel, with the
// ring the person's keys drew, at each of 20 openings, however the one before ended: cancelled by
// Return on what it opened on, by Escape, or deleted by Tab and Return on Delete. Return on what
// it opens on deletes nothing.
TEST_P(KeyboardPlaceTest, TheDeleteQuestionOpensOnCancelEveryTime)
{
    // A row for each opening, as a deletion may follow any.
    QList<char> keys;
    QList<ConversationHistoryEntry> rows;
    for (char key = 'a'; key < 'a' + 20; ++key) {
        keys.append(key);
        rows.append(testing::storedRow(key, QStringLiteral("Talk %1").arg(key)));
    }
    history.entries()->replace(rows);
    ASSERT_NO_FATAL_FAILURE(open());
    shell.press(Qt::Key_2, Qt::ControlModifier);
    QStringList openedOn;
    int deleted = 0;
    for (int opening = 0; opening < 20; ++opening) {
        SCOPED_TRACE(opening);
        const QString entry = testing::keyOf(keys.first());
        ASSERT_NO_FATAL_FAILURE(tabTo("historyCard:" + entry));
        shell.press(Qt::Key_Return);
        history.answerReview(testing::conversationReview(keys.first()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDetail"); }, 30000));
        ASSERT_NO_FATAL_FAILURE(tabOnTo("reviewDeleteButton"));
        shell.press(Qt::Key_Return);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDeleteConfirmation"); }, 30000));
        const bool onControl = focused() && focused()->inherits("QQuickAbstractButton");
        openedOn.append(heardFocus() + (showsRing(focused()) ? QStringLiteral(" (ring)") : QString()));
        if (opening == 3)
            shell.screenshot(
                QStringLiteral("keyboard-delete-question-after-a-deletion-%1").arg(GetParam().width()));
        if (opening % 3 == 0) {
            shell.press(Qt::Key_Return);
        } else if (opening % 3 == 1) {
            shell.press(Qt::Key_Escape);
        } else {
            ASSERT_NO_FATAL_FAILURE(tabOnTo("reviewDeleteConfirmationConfirm"));
            shell.press(Qt::Key_Return);
        }
        // Return on the dialog itself answers nothing; Escape then withdraws it.
        if (opening % 3 == 0 && !onControl)
            shell.press(Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("reviewDeleteConfirmation"); }, 30000));
        if (history.calls.contains("remove " + entry)) {
            ++deleted;
            keys.removeFirst();
            rows.removeFirst();
            history.entries()->replace(rows);
        } else {
            shell.press(Qt::Key_Escape);
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("reviewDetail"); }, 30000));
    }
    EXPECT_EQ(openedOn, QStringList(20, "Delete this conversation? > Cancel (ring)"));
    EXPECT_EQ(deleted, 6) << "Return on what the question opened on deleted";
}

} // namespace
} // namespace lumora
