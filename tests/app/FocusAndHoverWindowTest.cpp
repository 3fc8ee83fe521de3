#include "CheckinRecords.hpp"
#include "Contrast.hpp"
#include "ConversationRoomState.hpp"
#include "FakeShell.hpp"
#include "HistoryRecords.hpp"
#include "Sections.hpp"
#include "ThemePalette.hpp"

#include <QAccessible>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::keyOf;

// What the keyboard and the pointer show in the window: the control the keyboard is on and
// the control under the pointer are drawn differently from the rest, as the pixels tell.
class FocusAndHoverWindowTest : public ::testing::Test, protected testing::FakeShellWindow {
protected:
    QImage grab() const { return shell.window()->grabWindow(); }
    // The item's place in the window with a margin for a ring drawn outside it.
    QRect area(const QQuickItem& item) const
    {
        const QRectF rect = item.mapRectToScene(QRectF(0, 0, item.width(), item.height()));
        return rect.toAlignedRect()
            .adjusted(-6, -6, 6, 6)
            .intersected(QRect(QPoint(), shell.window()->size()));
    }
    QQuickItem* focused() const { return shell.window()->activeFocusItem(); }

    // Tabs on until the control named `name` has the keyboard; each control the keyboard
    // comes to on the way must look different from how it looked before. Returns the names
    // passed.
    QStringList tabTo(const QString& name, int limit = 40)
    {
        QStringList passed;
        for (int i = 0; i < limit; ++i) {
            const QImage before = grab();
            shell.press(Qt::Key_Tab);
            QQuickItem* item = focused();
            if (!item)
                continue;
            const QString current = item->objectName();
            passed.append(current);
            if (item->inherits("QQuickAbstractButton") || current == "brandMark") {
                const bool changed = before.copy(area(*item)) != grab().copy(area(*item));
                EXPECT_TRUE(changed) << current.toStdString() << " looks the same with the keyboard on it";
            }
            if (current == name)
                return passed;
        }
        ADD_FAILURE() << "the keyboard never came to " << name.toStdString() << " past "
                      << passed.join(", ").toStdString();
        return passed;
    }

    // The ring's left stroke, within 4 pixels left of what it surrounds (`inset` into the item).
    bool ringShowsLeftOf(const QQuickItem& item, double inset) const
    {
        const QImage image = grab();
        for (int offset = 1; offset <= 4; ++offset) {
            const QPoint left = item.mapToScene(QPointF(inset - offset, item.height() / 2)).toPoint();
            if (image.pixelColor(left) == ThemePalette::focusRing())
                return true;
        }
        return false;
    }

    // How plainly the named control shows the pointer over it: the largest contrast between a
    // pixel of it drawn without the pointer and the same pixel with it (1 when nothing changes).
    double hoverContrast(const QString& name)
    {
        auto* item = qobject_cast<QQuickItem*>(shell.find(name));
        if (!item)
            return 1;
        QTest::mouseMove(shell.window(), QPoint(2, shell.window()->height() - 2));
        shell.waitForFrame();
        const QImage away = grab();
        QTest::mouseMove(
            shell.window(), item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint());
        if (!QTest::qWaitFor([&] { return item->property("hovered").toBool(); }, 60000))
            return 1;
        shell.waitForFrame();
        const QImage hovered = grab();
        QTest::mouseMove(shell.window(), QPoint(2, shell.window()->height() - 2));
        double largest = 1;
        const QRect inside = area(*item);
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            for (int x = inside.left(); x <= inside.right(); ++x)
                largest
                    = std::max(largest, testing::contrast(away.pixelColor(x, y), hovered.pixelColor(x, y)));
        }
        return largest;
    }
    // The pointer shows plainly: hover fills measured 1.03 to 1.2:1 against their surface when
    // they were barely seen.
    static constexpr double plainHover = 1.2;
};

// Tab through the room and History: every control the keyboard comes to shows it, and Return
// or Space presses the one it is on.
TEST_F(FocusAndHoverWindowTest, TheKeyboardShowsWhereItIsAndPressesWithReturnOrSpace)
{
    QList<ConversationHistoryEntry> rows { testing::storedRow('a', "Bills"),
        testing::storedRow('b', "Dinner") };
    history.entries()->replace(rows);
    ASSERT_NE(shell.openWindow(session), nullptr);

    const QStringList room = tabTo("sectionHistory");
    for (const char* control : { "brandMark", "theoryButton" })
        EXPECT_TRUE(room.contains(control))
            << control << " is not on the way: " << room.join(", ").toStdString();
    shell.screenshot("focus-room-history-button");
    shell.press(Qt::Key_Return);
    ASSERT_EQ(section(), Sections::History);

    const QStringList page = tabTo("historyCard:" + keyOf('a'));
    shell.screenshot("focus-history-card");
    shell.press(Qt::Key_Return);
    EXPECT_EQ(history.calls, QStringList({ "reviewed", "fetch " + keyOf('a') }));
    history.answerReview(std::nullopt);

    tabTo("historyCard:" + keyOf('b'));
    shell.press(Qt::Key_Space);
    EXPECT_EQ(history.calls.mid(2), QStringList({ "reviewed", "fetch " + keyOf('b') }));
    history.answerReview(std::nullopt);

    // The header's tabs take the keyboard too, and Return on one changes the section.
    shell.window()->contentItem()->forceActiveFocus();
    tabTo("tabConversation");
    shell.press(Qt::Key_Return);
    EXPECT_EQ(section(), Sections::Conversation);
}

// Each kind of button looks plainly different under the pointer: the room's primary and
// secondary actions, its header buttons and agenda steps, the window's tabs, a History card and
// its actions button, each at 1.2:1 and more against how it looks without the pointer.
TEST_F(FocusAndHoverWindowTest, ThePointerShowsOnEveryKindOfButton)
{
    history.entries()->replace({ testing::storedRow('a', "Bills") });
    ASSERT_NE(shell.openWindow(session), nullptr);
    for (const char* name :
        { "primaryButton", "rehearsalButton", "theoryButton", "sectionPeople", "agendaStep3" })
        EXPECT_GE(hoverContrast(name), plainHover) << name;
    // At each size, the keyboard on the primary action and the pointer on the rehearsal's.
    for (const QSize size : { QSize(920, 680), QSize(1180, 760), QSize(1440, 900) }) {
        shell.resize(size);
        qobject_cast<QQuickItem*>(shell.find("primaryButton"))->forceActiveFocus(Qt::TabFocusReason);
        QTest::mouseMove(shell.window(),
            qobject_cast<QQuickItem*>(shell.find("rehearsalButton"))->mapToScene(QPointF(20, 20)).toPoint());
        shell.screenshot(QStringLiteral("focus-hover-room-%1").arg(size.width()));
    }
    shell.resize(testing::WindowHarness::desktop);

    shell.click("sectionHistory");
    for (const QString& name : { QStringLiteral("tabPeople"), QStringLiteral("historyCard:") + keyOf('a'),
             QStringLiteral("moreActions:") + keyOf('a') })
        EXPECT_GE(hoverContrast(name), plainHover) << name.toStdString();
}

// The finish notice lies clear of the explainer's heading at every size and under a card's
// backdrop, dimmed with the room; the live room's finish and coaching buttons and the mark show
// the pointer as plainly as the other buttons do.
TEST_F(FocusAndHoverWindowTest, TheNoticeLiesUnderTheCardsAndTheLiveRoomShowsThePointer)
{
    ASSERT_NE(shell.openWindow(session), nullptr);
    testing::FakeRoomModel& room = session.roomModel;
    const auto sceneRect = [&](const QString& name) {
        auto* item = qobject_cast<QQuickItem*>(shell.find(name));
        return item ? item->mapRectToScene(QRectF(0, 0, item->width(), item->height())) : QRectF();
    };
    room.update([](auto& s) {
        s.finishNotice = "Conversation ready to review. The final transcript could not be made, so the "
                         "review uses the live transcript.";
    });
    for (const QSize size : { QSize(1440, 900), QSize(1180, 760), QSize(920, 680) }) {
        SCOPED_TRACE(size.width());
        shell.resize(size);
        ASSERT_TRUE(shell.shows("finishNotice"));
        EXPECT_FALSE(sceneRect("finishNotice").intersects(sceneRect("explainerHeading")));
        EXPECT_FALSE(shell.find("finishNoticeAction")->property("visualFocus").toBool())
            << "a ring where no keyboard was used";
        shell.screenshot(QStringLiteral("notice-room-%1").arg(size.width()));
    }

    // At the narrowest, the notice reaches out beside the break card: there it is dimmed too.
    room.update([](auto& s) {
        s.isRecording = true;
        s.elapsed = 300;
    });
    room.flood(300);
    ASSERT_TRUE(shell.shows("breakOverlay"));
    const QRectF notice = sceneRect("finishNotice");
    const QPoint beside(int(notice.left()) + 8, int(notice.center().y()));
    ASSERT_FALSE(sceneRect("breakCard").contains(beside));
    shell.waitForFrame();
    EXPECT_GE(testing::contrast(grab().pixelColor(beside), ThemePalette::ivory()), plainHover)
        << "the notice is drawn over the backdrop";
    shell.screenshot("notice-under-break-920");
    shell.press(Qt::Key_Escape);
    ASSERT_FALSE(shell.shows("breakOverlay"));

    shell.resize(testing::WindowHarness::desktop);
    for (const char* name : { "primaryButton", "getUnstuck", "brandMark" })
        EXPECT_GE(hoverContrast(name), plainHover) << name;
    QTest::mouseMove(shell.window(),
        qobject_cast<QQuickItem*>(shell.find("brandMark"))->mapToScene(QPointF(20, 20)).toPoint());
    shell.screenshot("hover-brand-mark");
}

// A menu's entry and a seat's name field show the keyboard on them by the theme's ring, not by a
// faint fill or a caret alone.
TEST_F(FocusAndHoverWindowTest, MenuEntriesAndSeatNamesShowTheKeyboardByARing)
{
    ASSERT_NE(shell.openWindow(session), nullptr);
    QQuickItem* title = nullptr;
    QMetaObject::invokeMethod(
        shell.find("menuBar"), "itemAt", Q_RETURN_ARG(QQuickItem*, title), Q_ARG(int, 1));
    ASSERT_NE(title, nullptr);
    QMetaObject::invokeMethod(title, "triggered");
    QObject* menu = shell.find("viewMenu");
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->property("opened").toBool(); }, 60000));
    shell.press(Qt::Key_Down);
    shell.waitForFrame();
    QQuickItem* entry = focused();
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(entry->inherits("QQuickMenuItem")) << entry->metaObject()->className();
    // Its background, inset 6 from the entry's sides, is what the ring surrounds.
    EXPECT_TRUE(ringShowsLeftOf(*entry, 6)) << entry->property("text").toString().toStdString();
    shell.screenshot("focus-menu-entry");
    shell.press(Qt::Key_Escape);

    shell.click("sectionPeople");
    tabTo("leftEditorField");
    QQuickItem* field = focused();
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(ringShowsLeftOf(*field, 0));
    shell.screenshot("focus-seat-name");
}

// The menu bar opens from the keyboard as a desktop application's does: F10 opens its first
// menu, Alt with a menu's mnemonic that menu. The History card's actions show the keyboard on
// an entry by the ring, and a screen reader names their menu.
TEST_F(FocusAndHoverWindowTest, TheMenusOpenFromTheKeyboardAndShowWhereItIs)
{
    history.entries()->replace({ testing::storedRow('a', "Bills") });
    ASSERT_NE(shell.openWindow(session), nullptr);
    const auto opens = [&](const char* menu, Qt::Key key, Qt::KeyboardModifiers modifiers) {
        shell.press(key, modifiers);
        const bool opened
            = QTest::qWaitFor([&] { return shell.find(menu)->property("opened").toBool(); }, 60000);
        shell.press(Qt::Key_Escape);
        const bool closed
            = QTest::qWaitFor([&] { return !shell.find(menu)->property("visible").toBool(); }, 60000);
        return opened && closed;
    };
    EXPECT_TRUE(opens("appMenu", Qt::Key_F10, Qt::NoModifier)) << "F10";
    EXPECT_TRUE(opens("appMenu", Qt::Key_C, Qt::AltModifier)) << "Alt+C";
    EXPECT_TRUE(opens("viewMenu", Qt::Key_V, Qt::AltModifier)) << "Alt+V";
    QQuickItem* title = nullptr;
    QMetaObject::invokeMethod(
        shell.find("menuBar"), "itemAt", Q_RETURN_ARG(QQuickItem*, title), Q_ARG(int, 0));
    ASSERT_NE(title, nullptr);
    QAccessibleInterface* titleReader = QAccessible::queryAccessibleInterface(title);
    ASSERT_NE(titleReader, nullptr);
    EXPECT_EQ(titleReader->text(QAccessible::Name), "Corvane") << "the mnemonic is not read";

    shell.click("sectionHistory");
    shell.click("moreActions:" + keyOf('a'));
    QObject* actions = shell.find("historyActions:" + keyOf('a'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return actions->property("opened").toBool(); }, 60000));
    shell.press(Qt::Key_Down);
    shell.waitForFrame();
    QQuickItem* entry = focused();
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(entry->inherits("QQuickMenuItem")) << entry->metaObject()->className();
    EXPECT_TRUE(ringShowsLeftOf(*entry, 6)) << entry->property("text").toString().toStdString();
    auto* content = actions->property("contentItem").value<QQuickItem*>();
    ASSERT_NE(content, nullptr);
    QAccessibleInterface* menuReader = QAccessible::queryAccessibleInterface(content->parentItem());
    ASSERT_NE(menuReader, nullptr);
    EXPECT_EQ(menuReader->text(QAccessible::Name), "More actions for this conversation");
    shell.screenshot("focus-history-actions");
    shell.press(Qt::Key_Escape);
}

// The reminder's switch shows the keyboard on it by the ring round its track; the question about
// quitting, asked from the keyboard, shows which choice Return presses.
TEST_F(FocusAndHoverWindowTest, TheReminderSwitchAndTheQuitQuestionShowTheKeyboardByARing)
{
    account.state.isSignedIn = true;
    ASSERT_NE(shell.openWindow(session), nullptr);
    shell.click("sectionAccount");
    tabTo("reminderSwitch");
    auto* reminder = qobject_cast<QQuickItem*>(shell.find("reminderSwitch"));
    auto* track = reminder->property("indicator").value<QQuickItem*>();
    ASSERT_NE(track, nullptr);
    EXPECT_TRUE(ringShowsLeftOf(*track, 0));
    shell.screenshot("focus-reminder-switch");

    shell.click("tabConversation");
    session.roomModel.update([](auto& s) { s.isRecording = true; });
    shell.press(Qt::Key_Q, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("quitDialog"); }, 60000));
    auto* save = qobject_cast<QQuickItem*>(shell.find("saveAndQuitButton"));
    ASSERT_EQ(focused(), save);
    EXPECT_TRUE(ringShowsLeftOf(*save, 0));
    shell.screenshot("focus-quit-question");
    shell.press(Qt::Key_Escape);
}

// Where the keyboard, on a control with its ring, is handed on to another control (a sheet
// closed, a button disabled for a moment, a card gone, a page opened in the room's place), the
// ring is drawn round the control it lands on: "Enter the room" to "Start conversation", that to
// "Finish conversation", "Keep talking" back to it, and "Weekly check-in" to "Leave check-in".
TEST_F(FocusAndHoverWindowTest, TheRingIsDrawnWhereTheKeyboardIsHandedOn)
{
    ASSERT_NE(shell.openWindow(session), nullptr);
    testing::FakeRoomModel& room = session.roomModel;
    auto* stage = qobject_cast<ConversationRoomState*>(shell.find("roomState"));
    const auto focusedName = [&] { return focused() ? focused()->objectName() : QString(); };
    const auto tabOnTo = [&](const char* name) {
        for (int press = 0; press < 40 && focusedName() != QLatin1String(name); ++press)
            shell.press(Qt::Key_Tab);
        return focusedName() == QLatin1String(name)
            && QTest::qWaitFor([&] { return stage->takesRowPress(); }, 30000);
    };
    const auto ringedOn = [&](const char* name, const QString& screenshot) {
        const bool there = QTest::qWaitFor([&] { return focusedName() == QLatin1String(name); }, 30000);
        shell.screenshot(screenshot);
        return there && ringShowsLeftOf(*focused(), 0);
    };
    for (const QSize size : { QSize(920, 680), QSize(1180, 760) }) {
        SCOPED_TRACE(size.width());
        const QString width = QString::number(size.width());
        shell.resize(size);
        room.update([](auto& s) { s.startReadiness = RoomModel::NeedsSignIn; });
        session.update([](auto& s) { s.isSignedIn = false; });
        ASSERT_TRUE(tabOnTo("primaryButton"));
        shell.press(Qt::Key_Return);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("setupSheet"); }, 30000));
        session.update([](auto& s) { s.isSignedIn = true; });
        room.update([](auto& s) { s.startReadiness = RoomModel::Ready; });
        ASSERT_TRUE(tabOnTo("enterRoomButton"));
        shell.press(Qt::Key_Return);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("setupSheet"); }, 30000));
        EXPECT_TRUE(ringedOn("primaryButton", "ring-enter-room-to-start-" + width)) << "Enter the room";

        shell.press(Qt::Key_Return);
        room.update([](auto& s) { s.isStartingConversation = true; });
        room.update([](auto& s) {
            s.isStartingConversation = false;
            s.isRecording = true;
        });
        EXPECT_TRUE(ringedOn("primaryButton", "ring-start-to-finish-" + width)) << "Start conversation";

        const double at = size.width() > 920 ? 900 : 300;
        room.update([&](auto& s) { s.elapsed = at; });
        room.flood(at);
        ASSERT_TRUE(ringedOn("keepTalkingButton", "ring-keep-talking-" + width));
        shell.press(Qt::Key_Return);
        EXPECT_TRUE(ringedOn("primaryButton", "ring-keep-talking-to-finish-" + width)) << "Keep talking";

        room.update([](auto& s) { s.isRecording = false; });
        ASSERT_TRUE(tabOnTo("checkinButton"));
        shell.press(Qt::Key_Return);
        room.update([](auto& s) { s.isCheckinOpening = true; });
        room.update([](auto& s) {
            s.isCheckinOpening = false;
            s.checkinPack = testing::packWithNote();
            s.checkinFlow = CheckinFlow(5, 0, 0);
        });
        EXPECT_TRUE(ringedOn("leaveCheckinButton", "ring-check-in-to-leave-" + width)) << "Weekly check-in";
        room.update([](auto& s) {
            s.checkinPack.reset();
            s.checkinFlow.reset();
        });
    }
}

} // namespace
} // namespace lumora
