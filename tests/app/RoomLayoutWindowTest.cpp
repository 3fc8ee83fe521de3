#include "Contrast.hpp"
#include "ConversationRoomState.hpp"
#include "FakeShell.hpp"
#include "ObjectSearch.hpp"
#include "Sections.hpp"
#include "ThemePalette.hpp"

#include <QAccessible>
#include <QFontInfo>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

namespace lumora {
namespace {

// A conversation of `count` turns, two voices taking turns, each of a few seconds.
QList<SpeakerTurn> conversation(int count)
{
    QList<SpeakerTurn> turns;
    for (int i = 0; i < count; ++i) {
        turns.append(SpeakerTurn(i % 2, i * 6, i * 6 + 5,
            QStringLiteral("Turn %1: what I wanted to say about the week, and what it left me with.")
                .arg(i + 1)));
    }
    return turns;
}

// The room as drawn at the window's sizes, from the narrowest the window allows: what shows
// without scrolling, the header, the agenda strip's widths and the transcript's place, all
// measured on the items as they are laid out.
class RoomLayoutWindowTest : public ::testing::Test, protected testing::FakeShellWindow {
protected:
    void SetUp() override { ASSERT_NE(shell.openWindow(session), nullptr); }

    QQuickItem* item(const QString& name) const { return qobject_cast<QQuickItem*>(shell.find(name)); }
    QRectF sceneRect(const QString& name) const
    {
        QQuickItem* found = item(name);
        return found ? found->mapRectToScene(QRectF(0, 0, found->width(), found->height())) : QRectF();
    }
    // What of the window's content the user sees: below the menu bar, inside the window.
    QRectF visibleArea() const
    {
        auto* content = qobject_cast<QQuickItem*>(shell.content());
        return content->mapRectToScene(QRectF(0, 0, content->width(), content->height()));
    }
    // Whether the named item lies whole on screen and is drawn at its size.
    bool wholeOnScreen(const QString& name) const
    {
        const QRectF rect = sceneRect(name);
        return shell.shows(name) && rect.width() > 1 && rect.height() > 1
            && visibleArea().adjusted(-0.5, -0.5, 0.5, 0.5).contains(rect);
    }
    // Whether the transcript shows its newest row whole.
    bool showsNewestRow() const
    {
        QQuickItem* list = item("transcript");
        const int count = list->property("count").toInt();
        if (count == 0)
            return false;
        QQuickItem* last = nullptr;
        QMetaObject::invokeMethod(
            list, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, last), Q_ARG(int, count - 1));
        if (!last)
            return false;
        const QRectF row = last->mapRectToItem(list, QRectF(0, 0, last->width(), last->height()));
        return row.height() > 0 && row.top() >= -0.5 && row.bottom() <= list->height() + 0.5;
    }
    QString accessibleName(const QString& name) const
    {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(item(name));
        return accessible ? accessible->text(QAccessible::Name) : QString();
    }
    void live(int turns)
    {
        session.roomModel.update([&](auto& s) {
            s.isRecording = true;
            s.elapsed = turns * 6.0;
            s.currentSessionID = "one";
            s.turns = conversation(turns);
        });
    }

    testing::FakeRoomModel& model = session.roomModel;
};

// At the minimum window the room's main controls are on screen as it opens, idle and live,
// and a page that scrolls shows that it does while it moves.
TEST_F(RoomLayoutWindowTest, TheMinimumWindowShowsThePrimaryActionsWithoutScrolling)
{
    shell.resize(QSize(920, 680));
    ASSERT_TRUE(shell.has("compactRoom"));
    for (const char* control : { "primaryButton", "checkinButton", "rehearsalButton" })
        EXPECT_TRUE(wholeOnScreen(control)) << control << " " << sceneRect(control).y();
    shell.screenshot("room-minimum-idle");

    live(4);
    for (const char* control : { "primaryButton", "pauseButton" })
        EXPECT_TRUE(wholeOnScreen(control)) << control;
    EXPECT_EQ(shell.text("primaryButton"), "Finish conversation");
    shell.screenshot("room-minimum-live");

    // The compact room scrolls: while it moves an indicator shows where the view is.
    QQuickItem* page = item("compactPage");
    ASSERT_GT(page->property("contentHeight").toReal(), page->height());
    auto* indicator = page->findChild<QQuickItem*>("pageScrollIndicator");
    ASSERT_NE(indicator, nullptr);
    EXPECT_FALSE(indicator->property("shown").toBool());
    // Over the corners, which do not scroll by themselves.
    const QPoint over = sceneRect("leftCorner").center().toPoint();
    QWheelEvent wheel(over, shell.window()->mapToGlobal(over), QPoint(), QPoint(0, -120), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(shell.window(), &wheel);
    EXPECT_TRUE(QTest::qWaitFor([&] { return page->property("contentY").toReal() > 0; }, 60000));
    auto* handle = indicator->property("contentItem").value<QQuickItem*>();
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return handle->opacity() == 1; }, 60000));
    EXPECT_GT(handle->height(), 8);
    EXPECT_GT(handle->width(), 1);
    shell.screenshot("room-minimum-scrolling");
    EXPECT_TRUE(QTest::qWaitFor([&] { return handle->opacity() == 0; }, 60000))
        << "it goes once the page rests";
}

// The header keeps each of its controls whole inside its 32-point padding at every width,
// the pill and "Swap sides" included: at the narrow end the buttons show their symbols, with
// their names as tooltips and accessible names.
TEST_F(RoomLayoutWindowTest, TheHeaderKeepsEveryControlWhole)
{
    live(2);
    const char* buttons[] { "swapSidesButton", "theoryButton", "sectionHistory", "sectionPeople",
        "sectionAccount" };
    for (const QSize size : { QSize(920, 680), QSize(979, 700), QSize(1180, 760), QSize(1440, 900) }) {
        SCOPED_TRACE(size.width());
        shell.resize(size);
        ASSERT_TRUE(shell.shows("statusPill"));
        EXPECT_EQ(QFontInfo(item("statusClock")->property("font").value<QFont>()).family(), "Manrope Tabular")
            << "the clock's digits keep one width";
        qreal left = sceneRect("statusPill").right();
        for (const char* name : buttons) {
            QQuickItem* button = item(name);
            const QRectF rect = sceneRect(name);
            EXPECT_GE(rect.left(), left - 0.5) << name;
            EXPECT_LE(rect.right(), size.width() - 32 - 4 + 0.5) << name << " runs into the padding";
            EXPECT_GE(rect.width(), button->implicitWidth() - 0.5) << name << " is squeezed";
            left = rect.right();
            // Labelled where there is room; at the narrowest the symbols alone.
            const QString label = QString::fromLatin1(name) + "Label";
            if (size.width() == 920 || size.width() == 1440) {
                EXPECT_EQ(shell.has(label) && item(label)->isVisible(), size.width() == 1440) << name;
            }
        }
        shell.screenshot(QStringLiteral("room-header-%1").arg(size.width()));
    }
    // Named alike without their labels.
    shell.resize(QSize(920, 680));
    EXPECT_EQ(accessibleName("sectionAccount"), "Account");
    EXPECT_EQ(accessibleName("swapSidesButton"), "Swap which side each voice appears on");
}

// The second row of the agenda strip: the opening words and the note take the width their
// text needs while the row has room and give way together (elided, their full text kept for
// tooltips and screen readers) when it has not; the step names keep one size.
TEST_F(RoomLayoutWindowTest, TheAgendaStripGivesItsTextsTheirWidth)
{
    live(2);
    model.update([](auto& s) { s.liveStepNote = "naming the loop, not the person"; });
    for (const QSize size : { QSize(979, 700), QSize(1180, 760), QSize(1600, 900) }) {
        SCOPED_TRACE(size.width());
        shell.resize(size);
        ASSERT_TRUE(shell.has("agendaDetail"));
        QQuickItem* starter = item("stepStarter");
        QQuickItem* note = item("agendaNote");
        QQuickItem* guidance = item("stepGuidance");
        ASSERT_TRUE(note->isVisible());
        const qreal rowWidth = item("agendaDetail")->width();
        const qreal spare = rowWidth - 200 - 2 * 12;
        const qreal needed = starter->implicitWidth() + note->implicitWidth();
        if (needed <= spare) {
            EXPECT_NEAR(starter->width(), starter->implicitWidth(), 0.5);
            EXPECT_NEAR(note->width(), note->implicitWidth(), 0.5);
            EXPECT_FALSE(starter->property("truncated").toBool());
        } else {
            EXPECT_NEAR(starter->width() + note->width(), spare, 0.5);
            EXPECT_GE(std::min(starter->width(), note->width()), std::min(spare / 2, 80.0) - 0.5);
            EXPECT_TRUE(starter->property("truncated").toBool() || note->property("truncated").toBool());
        }
        EXPECT_GT(note->width(), 40);
        EXPECT_GE(guidance->width(), 200 - 0.5);
        // Side by side in the row, none over another.
        const QRectF g = sceneRect("stepGuidance"), s = sceneRect("stepStarter"), n = sceneRect("agendaNote");
        EXPECT_LE(g.right(), s.left() + 0.5);
        EXPECT_LE(s.right(), n.left() + 0.5);
        EXPECT_LE(n.right(), sceneRect("agendaDetail").right() + 0.5);
        EXPECT_EQ(accessibleName("stepStarter"), starter->property("text").toString());
        EXPECT_EQ(accessibleName("agendaNote"), "naming the loop, not the person");
        QSet<int> sizes;
        for (int step = 0; step < 6; ++step)
            sizes.insert(item(QStringLiteral("agendaStepName%1").arg(step))
                             ->property("font")
                             .value<QFont>()
                             .pixelSize());
        EXPECT_EQ(sizes.size(), 1) << "step names in more than one size";
        // A name shrinks, down to 0.72 of its size, before it is cut.
        for (int step = 0; step < 6; ++step) {
            QQuickItem* name = item(QStringLiteral("agendaStepName%1").arg(step));
            const int drawn = name->property("fontInfo").toMap().value("pixelSize").toInt();
            EXPECT_TRUE(!name->property("truncated").toBool() || drawn <= qRound(11 * 0.72))
                << name->property("text").toString().toStdString() << " cut at " << drawn << " pixels";
        }
        shell.screenshot(QStringLiteral("room-agenda-%1").arg(size.width()));
    }
    // The rehearsal's note shows too.
    model.update([](auto& s) {
        s.isRecording = false;
        s.turns.clear();
    });
    // The stage's row takes presses again a moment after it changed.
    auto* room = qobject_cast<ConversationRoomState*>(shell.find("roomState"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return room->takesRowPress(); }, 60000));
    shell.click("rehearsalButton");
    EXPECT_EQ(shell.text("agendaNote"), "moved ahead with you");
    EXPECT_GT(item("agendaNote")->width(), 40);
}

// A step whose name is cut short shows it whole in a tip drawn in the theme's colours, read at
// 4.5:1 and more, when the keyboard comes to the step as when the pointer rests on it; a step
// shown whole has no tip, and a screen reader reads each step by its full name.
TEST_F(RoomLayoutWindowTest, AStepCutShortShowsItsFullNameInAThemedTipOnFocusAndHover)
{
    // A tip is a popup, not an item: it is drawn by its background.
    const auto tip = [&](int step) { return shell.find(QStringLiteral("agendaStepTip%1").arg(step)); };
    const auto shown = [&](int step) { return tip(step)->property("visible").toBool(); };
    const auto cut = [&](int step) {
        return item(QStringLiteral("agendaStepName%1").arg(step))->property("truncated").toBool();
    };
    for (const QSize size : { QSize(920, 680), QSize(1180, 760), QSize(1440, 900), QSize(1920, 1080) }) {
        SCOPED_TRACE(size.width());
        shell.resize(size);
        shell.waitForFrame();
        QList<int> cutSteps;
        for (int step = 0; step < 6; ++step) {
            const QString name
                = item(QStringLiteral("agendaStepName%1").arg(step))->property("text").toString();
            EXPECT_EQ(accessibleName(QStringLiteral("agendaStep%1").arg(step)),
                QStringLiteral("Step %1, %2").arg(step + 1).arg(name));
            if (cut(step))
                cutSteps.append(step);
        }
        if (size.width() == 1180) {
            ASSERT_FALSE(cutSteps.isEmpty()) << "no step is cut short at 1180";
        }
        ASSERT_NE(tip(0), nullptr) << "the steps have no tips of their own";
        // The keyboard on a step, cut short where one is, and the pointer on its neighbour.
        const int step = cutSteps.isEmpty() ? 2 : cutSteps.first();
        QQuickItem* button = item(QStringLiteral("agendaStep%1").arg(step));
        const auto centreOf
            = [](QQuickItem* of) { return of->mapToScene(of->boundingRect().center()).toPoint(); };
        button->forceActiveFocus(Qt::TabFocusReason);
        QTest::mouseMove(shell.window(), centreOf(item(QStringLiteral("agendaStep%1").arg((step + 1) % 6))));
        if (!cut(step)) {
            QTest::qWait(700);
            EXPECT_FALSE(shown(step)) << "a tip for a name shown whole";
            shell.screenshot(QStringLiteral("room-agenda-tip-%1").arg(size.width()));
            continue;
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return shown(step); }, 60000)) << "no tip on focus";
        EXPECT_EQ(tip(step)->property("text").toString(),
            item(QStringLiteral("agendaStepName%1").arg(step))->property("text").toString());
        shell.waitForFrame();
        const QImage image = shell.window()->grabWindow();
        auto* drawn = tip(step)->property("background").value<QQuickItem*>();
        ASSERT_NE(drawn, nullptr);
        const QRect area
            = drawn->mapRectToScene(QRectF(0, 0, drawn->width(), drawn->height())).toAlignedRect();
        EXPECT_EQ(image.pixelColor(area.left() + 4, area.center().y()), ThemePalette::ink())
            << "an unthemed tip";
        EXPECT_GE(testing::pixelRange(image, area.adjusted(2, 2, -2, -2)).ratio(), 4.5);
        shell.screenshot(QStringLiteral("room-agenda-tip-%1").arg(size.width()));

        // The keyboard and the pointer elsewhere: no tip; the pointer on the step: its tip.
        item("primaryButton")->forceActiveFocus(Qt::TabFocusReason);
        QTest::mouseMove(shell.window(), QPoint(2, shell.window()->height() - 2));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !shown(step); }, 60000));
        QTest::mouseMove(shell.window(), centreOf(button));
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown(step); }, 60000)) << "no tip on hover";
        QTest::mouseMove(shell.window(), QPoint(2, shell.window()->height() - 2));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !shown(step); }, 60000));
    }
}

// The transcript keeps its newest row in view when many rows arrive at once and when the
// arrangement changes, unless the user has scrolled up to read.
TEST_F(RoomLayoutWindowTest, TheTranscriptKeepsItsPlace)
{
    shell.resize(QSize(1180, 760));
    live(30);
    EXPECT_TRUE(QTest::qWaitFor([&] { return showsNewestRow(); }, 60000)) << "after thirty rows at once";
    for (const QSize size : { QSize(979, 760), QSize(1180, 760), QSize(920, 680), QSize(1440, 900) }) {
        SCOPED_TRACE(size.width());
        shell.resize(size);
        EXPECT_TRUE(QTest::qWaitFor([&] { return showsNewestRow(); }, 60000))
            << "after the arrangement changed";
    }
    model.say(0, 200, 205, "One more, arriving while the newest row is in view.");
    EXPECT_TRUE(QTest::qWaitFor([&] { return showsNewestRow(); }, 60000));

    // Scrolled up by the user, it stays where the user put it.
    QQuickItem* list = item("transcript");
    const QPoint middle = list->mapToScene(QPointF(list->width() / 2, list->height() / 2)).toPoint();
    QWheelEvent wheel(middle, shell.window()->mapToGlobal(middle), QPoint(0, 600), QPoint(0, 600),
        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(shell.window(), &wheel);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list->property("moving").toBool(); }, 60000));
    const qreal readingAt = list->property("contentY").toReal();
    model.say(1, 206, 210, "And another, while someone reads back.");
    // The first frame lays the new row out, which sets the list's follow-up timer going again;
    // the timer has had its turn by the end of the second.
    shell.waitForFrame();
    shell.waitForFrame();
    EXPECT_NEAR(list->property("contentY").toReal(), readingAt, 0.5);
    EXPECT_FALSE(showsNewestRow());
}

// The room is laid out the same each time it shows: after another section, idle and live,
// the stage and its buttons are where they were.
TEST_F(RoomLayoutWindowTest, TheRoomLooksTheSameEachTimeItShows)
{
    for (const int turns : { 0, 6 }) {
        if (turns > 0)
            live(turns);
        for (const QSize size : { QSize(1180, 760), QSize(920, 680), QSize(1440, 900) }) {
            SCOPED_TRACE(QStringLiteral("%1 turns at %2").arg(turns).arg(size.width()).toStdString());
            shell.resize(size);
            const QRectF stage = sceneRect("sharedStage");
            const QRectF primary = sceneRect("primaryButton");
            shell.click("sectionHistory");
            ASSERT_EQ(section(), Sections::History);
            shell.click("tabConversation");
            ASSERT_EQ(section(), Sections::Conversation);
            shell.screenshot(QStringLiteral("room-after-history-%1-%2").arg(turns).arg(size.width()));
            EXPECT_EQ(sceneRect("sharedStage"), stage);
            EXPECT_EQ(sceneRect("primaryButton"), primary);
        }
    }
}

// The start error banner and the finish notice come in below the agenda's steps, at every
// size, over none of them nor over a gauge: the stage's, or a corner's.
TEST_F(RoomLayoutWindowTest, TheBannersLeaveTheAgendaStepsAndTheGaugesFree)
{
    model.update([](auto& s) {
        s.errorMessage = "Corvane is still getting the room ready. Try Start conversation again in a moment.";
        s.finishNotice = "Conversation ready to review";
    });
    for (const QSize size : { QSize(920, 680), QSize(1180, 760), QSize(1440, 900) }) {
        SCOPED_TRACE(size.width());
        shell.resize(size);
        QStringList kept { "balanceGauge" };
        for (const char* corner : { "leftCorner", "rightCorner" }) {
            auto* gauge = item(corner)->findChild<QQuickItem*>("cornerGauge");
            ASSERT_NE(gauge, nullptr);
            gauge->setObjectName(QStringLiteral("%1Gauge").arg(QLatin1String(corner)));
            kept.append(gauge->objectName());
        }
        for (int step = 0; step < 6; ++step)
            kept.append(QStringLiteral("agendaStep%1").arg(step));
        for (const char* name : { "errorBanner", "finishNotice" }) {
            ASSERT_TRUE(shell.shows(name)) << name;
            const QRectF banner = sceneRect(name);
            EXPECT_TRUE(visibleArea().contains(banner)) << name;
            for (const QString& other : kept)
                EXPECT_FALSE(banner.intersects(sceneRect(other))) << name << " over " << other.toStdString();
        }
        shell.screenshot(QStringLiteral("room-error-banner-%1").arg(size.width()));
        for (const char* corner : { "leftCorner", "rightCorner" })
            item(corner)
                ->findChild<QQuickItem*>(QStringLiteral("%1Gauge").arg(QLatin1String(corner)))
                ->setObjectName("cornerGauge");
    }
}

// The coaching popover lies beside its button, below it or above it as the window has room,
// never over it, and points to it.
TEST_F(RoomLayoutWindowTest, TheCoachingPopoverPointsToItsButtonAndLeavesItFree)
{
    live(4);
    for (const QSize size : { QSize(920, 680), QSize(1180, 760), QSize(1440, 900) }) {
        SCOPED_TRACE(size.width());
        shell.resize(size);
        auto* corner = item("leftCorner");
        auto* button = corner->findChild<QQuickItem*>("getUnstuck");
        QObject* popover = corner->findChild<QObject*>("coachPopover");
        ASSERT_TRUE(button && popover);
        shell.click("getUnstuck");
        ASSERT_TRUE(QTest::qWaitFor([&] { return popover->property("opened").toBool(); }, 60000));
        auto* card = popover->property("background").value<QQuickItem*>();
        auto* pointer = card->findChild<QQuickItem*>("coachPointer");
        ASSERT_NE(pointer, nullptr);
        const QRectF cardRect = card->mapRectToScene(QRectF(0, 0, card->width(), card->height()));
        const QRectF buttonRect = button->mapRectToScene(QRectF(0, 0, button->width(), button->height()));
        const QRectF pointerRect = pointer->mapRectToScene(pointer->boundingRect());
        EXPECT_FALSE(cardRect.intersects(buttonRect)) << "the popover covers its button";
        EXPECT_FALSE(cardRect.intersects(sceneRect("primaryButton"))) << "the popover covers the finish";
        EXPECT_TRUE(QRectF(QPointF(), shell.window()->size()).contains(cardRect));
        EXPECT_GE(cardRect.top(), visibleArea().top()) << "the popover covers the menu bar";
        EXPECT_NEAR(pointerRect.center().x(), buttonRect.center().x(), 1.5);
        const bool below = cardRect.top() >= buttonRect.bottom();
        EXPECT_TRUE(below ? pointerRect.top() < cardRect.top() : pointerRect.bottom() > cardRect.bottom())
            << "the pointer stands out of the edge towards the button";
        shell.screenshot(QStringLiteral("room-coaching-popover-%1").arg(size.width()));
        // What the room on its side could not hold comes into view as the keyboard reaches it.
        auto* readAgain = qobject_cast<QQuickItem*>(testing::findUnder(popover, "readAgain"));
        ASSERT_NE(readAgain, nullptr);
        for (int press = 0; press < 4 && !readAgain->hasActiveFocus(); ++press)
            shell.press(Qt::Key_Tab);
        ASSERT_TRUE(readAgain->hasActiveFocus());
        EXPECT_TRUE(cardRect.contains(readAgain->mapRectToScene(readAgain->boundingRect())))
            << "the focused button lies out of view";
        shell.press(Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !popover->property("visible").toBool(); }, 60000));
    }
}

// At the narrowest window, wherever the page is scrolled, the coaching popover keeps clear of
// the row that finishes the conversation: "Finish conversation" is never under it.
TEST_F(RoomLayoutWindowTest, TheCoachingPopoverNeverCoversTheFinish)
{
    live(4);
    shell.resize(QSize(920, 680));
    QQuickItem* page = item("compactPage");
    QObject* popover = item("leftCorner")->findChild<QObject*>("coachPopover");
    ASSERT_TRUE(page && popover);
    const qreal furthest = page->property("contentHeight").toReal() - page->height();
    ASSERT_GT(furthest, 0) << "the page scrolls at this size";
    for (qreal at = 0; at <= furthest + 0.5; at += std::max<qreal>(furthest / 8, 10)) {
        SCOPED_TRACE(at);
        page->setProperty("contentY", std::min(at, furthest));
        shell.waitForFrame();
        auto* button = item("leftCorner")->findChild<QQuickItem*>("getUnstuck");
        const QRectF buttonRect = button->mapRectToScene(QRectF(0, 0, button->width(), button->height()));
        if (!visibleArea().adjusted(0, 0, 0, -sceneRect("compactControls").height()).contains(buttonRect))
            continue; // a button scrolled out of view is not pressed
        QTest::mouseClick(shell.window(), Qt::LeftButton, Qt::NoModifier, buttonRect.center().toPoint());
        ASSERT_TRUE(QTest::qWaitFor([&] { return popover->property("opened").toBool(); }, 60000));
        auto* card = popover->property("background").value<QQuickItem*>();
        const QRectF cardRect = card->mapRectToScene(QRectF(0, 0, card->width(), card->height()));
        EXPECT_FALSE(cardRect.intersects(sceneRect("primaryButton"))) << "the popover covers the finish";
        EXPECT_FALSE(cardRect.intersects(sceneRect("compactControls")));
        EXPECT_FALSE(cardRect.intersects(buttonRect));
        if (cardRect.intersects(sceneRect("compactControls")))
            shell.screenshot("room-coaching-popover-over-finish");
        shell.press(Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !popover->property("visible").toBool(); }, 60000));
    }
}

// A guidance card that comes up while a corner's coaching popover is open closes the popover,
// which would lie over the dimmed room and the card; the keyboard goes to the card.
TEST_F(RoomLayoutWindowTest, AGuidanceCardClosesTheCoachingPopover)
{
    live(2);
    QObject* popover = item("leftCorner")->findChild<QObject*>("coachPopover");
    ASSERT_NE(popover, nullptr);
    shell.click("getUnstuck");
    ASSERT_TRUE(QTest::qWaitFor([&] { return popover->property("opened").toBool(); }, 60000));
    auto* background = popover->property("background").value<QQuickItem*>();
    const QRectF drawn = background->mapRectToScene(QRectF(0, 0, background->width(), background->height()));

    model.flood(20);
    ASSERT_TRUE(shell.shows("breakOverlay"));
    const QRectF card = sceneRect("breakCard");
    ASSERT_TRUE(drawn.intersects(card));
    // Where the popover lay beside the card, the dimmed room shows, not the popover's paper.
    const QPoint beside((drawn.left() + card.left()) / 2, drawn.center().y());
    ASSERT_TRUE(drawn.contains(beside) && !card.contains(beside));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !popover->property("visible").toBool(); }, 60000));
    shell.waitForFrame();
    EXPECT_NE(shell.window()->grabWindow().pixelColor(beside), ThemePalette::paper());
    EXPECT_EQ(shell.window()->activeFocusItem()->objectName(), "keepTalkingButton");
    shell.screenshot("room-break-after-popover");
}

// The floor-hold card has an edge over the transcript it floats on: its outline and, under the
// software renderer, which draws no blurred shadow, a plain one.
TEST_F(RoomLayoutWindowTest, TheFloorCardStandsOutOfTheTranscript)
{
    model.update([](auto& s) {
        s.isRecording = true;
        s.currentSessionID = "one";
        s.elapsed = 130;
        s.turns = conversation(1);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("floorCard"); }, 60000));
    const QRect card = sceneRect("floorCard").toAlignedRect();
    const QImage frame = shell.window()->grabWindow();
    const int middle = card.center().y();
    const auto lightness = [&](int x, int y) { return QColor(frame.pixel(x, y)).lightness(); };
    EXPECT_GE(lightness(card.left() + 8, middle) - lightness(card.left(), middle), 8) << "no outline";
    EXPECT_GE(
        lightness(card.center().x(), card.bottom() + 12) - lightness(card.center().x(), card.bottom() + 2), 4)
        << "no shadow under it";
    shell.screenshot("room-floor-card");
}

} // namespace
} // namespace lumora
