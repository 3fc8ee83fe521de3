#include "CheckinRecords.hpp"
#include "ConversationRoomState.hpp"
#include "FakeShell.hpp"
#include "HistoryRecords.hpp"
#include "HistoryTexts.hpp"
#include "ObjectSearch.hpp"
#include "ReviewSheet.hpp"
#include "ReviewTexts.hpp"
#include "ReviewTranscript.hpp"
#include "WindowHarness.hpp"
#include "domain/CheckinPrompt.hpp"
#include "domain/CheckinSection.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QAccessible>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <string_view>

namespace lumora {
namespace {

// One node of the tree a screen reader meets, as the walker describes it.
struct Node {
    QString role;
    QString name;
    QString description;
    QStringList states;
    QStringList actions;
};

// The window as a screen reader meets it, over the desktop's accessibility bus: the walker
// (tests/app/accessibility/walk.py) reads this process's tree and presses what a user of a
// screen reader would. It needs the bus and a display; scripts/with-accessibility-bus under
// xvfb-run gives both (the ctest entries "Accessibility.ScreenReaderWalk.<test>").
class AccessibilityTest : public ::testing::Test, protected testing::FakeShellWindow {
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON")
            || qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs the accessibility bus and a display (scripts/with-accessibility-bus)";
    }

    // Runs the walker with `arguments` after the command and this process's id, keeping this
    // event loop turning, as the bus asks this process for every node; its output, or nothing
    // when it failed. The loop waits for the walker's end without pausing between its turns: a
    // wait that sleeps between looks answered each of the walk's thousand questions a few
    // milliseconds late, seconds a walk.
    std::optional<QByteArray> walk(const QString& command, const QStringList& arguments = {})
    {
        QProcess walker;
        walker.setProcessChannelMode(QProcess::SeparateChannels);
        walker.start(QStringLiteral("/usr/bin/python3"),
            QStringList { QStringLiteral(LUMORA_ACCESSIBILITY_WALKER), command,
                QString::number(QCoreApplication::applicationPid()) }
                + arguments);
        QEventLoop loop;
        QObject::connect(&walker, &QProcess::finished, &loop, &QEventLoop::quit);
        QObject::connect(&walker, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                loop.quit();
        });
        // A walk reads the tree node by node over the bus; on a loaded machine only the
        // entry's own time-out bounds it.
        QTimer::singleShot(240000, &loop, &QEventLoop::quit);
        if (walker.state() != QProcess::NotRunning)
            loop.exec();
        if (walker.state() != QProcess::NotRunning) {
            walker.kill();
            walker.waitForFinished();
            ADD_FAILURE() << "the walker did not finish";
            return std::nullopt;
        }
        if (walker.exitStatus() != QProcess::NormalExit || walker.exitCode() != 0) {
            ADD_FAILURE() << command.toStdString() << ' ' << arguments.join(' ').toStdString() << ": "
                          << walker.readAllStandardError().toStdString();
            return std::nullopt;
        }
        return walker.readAllStandardOutput();
    }

    // What a screen reader hears from this process while it lives: the walker listening on the
    // bus (walk.py listen), from the moment the application knows of it.
    class Listener {
    public:
        Listener()
        {
            QObject::connect(&m_walker, &QProcess::readyReadStandardOutput, [this] {
                while (m_walker.canReadLine()) {
                    const QByteArray line = m_walker.readLine().trimmed();
                    if (line == "listening")
                        m_listening = true;
                    else
                        m_heard.append(QJsonDocument::fromJson(line).object());
                }
            });
            m_walker.start(QStringLiteral("/usr/bin/python3"),
                { QStringLiteral(LUMORA_ACCESSIBILITY_WALKER), QStringLiteral("listen"),
                    QString::number(QCoreApplication::applicationPid()) });
            EXPECT_TRUE(QTest::qWaitFor([this] { return m_listening; }, 60000))
                << "the listener did not start: " << m_walker.readAllStandardError().toStdString();
        }
        ~Listener()
        {
            m_walker.closeWriteChannel();
            if (!m_walker.waitForFinished(30000))
                m_walker.kill();
        }
        Listener(const Listener&) = delete;
        Listener& operator=(const Listener&) = delete;

        // Waits until a notification that says `text` has come to show, as a screen reader says
        // one: its role, then the labels in it.
        ::testing::AssertionResult announces(const QString& text)
        {
            if (QTest::qWaitFor([&] { return times(text) > 0; }, 60000))
                return ::testing::AssertionSuccess();
            ::testing::AssertionResult failure = ::testing::AssertionFailure();
            failure << "not announced: \"" << text.toStdString() << "\"; came to show:";
            for (const QJsonObject& event : std::as_const(m_heard)) {
                if (event.value(u"event").toString() == "showing")
                    failure << ' ' << event.value(u"role").toString().toStdString() << " \""
                            << event.value(u"name").toString().toStdString() << '"';
            }
            return failure;
        }
        // How often a notification that says `text` was heard coming to show.
        [[nodiscard]] qsizetype times(const QString& text) const
        {
            return std::ranges::count_if(m_heard, [&](const QJsonObject& event) {
                QStringList labels;
                for (const QJsonValue& label : event.value(u"labels").toArray())
                    labels.append(label.toString());
                return event.value(u"event").toString() == "showing"
                    && event.value(u"role").toString() == "notification" && labels.join(' ').contains(text);
            });
        }
        // Waits until the keyboard comes to the node of that name; whether it did.
        bool hearsFocusOn(const QString& name)
        {
            return QTest::qWaitFor([&] { return lastFocused() == name; }, 60000);
        }
        // Waits until the keyboard comes to a node of that role whose name says each of `words`.
        ::testing::AssertionResult hearsFocusSaying(const QString& role, const QStringList& words)
        {
            const auto says = [&] {
                const QJsonObject event = lastFocusedEvent();
                const QString name = event.value(u"name").toString();
                return event.value(u"role").toString() == role
                    && std::ranges::all_of(words, [&](const QString& word) { return name.contains(word); });
            };
            if (QTest::qWaitFor(says, 60000))
                return ::testing::AssertionSuccess();
            return ::testing::AssertionFailure() << "the keyboard was last heard on "
                                                 << lastFocusedEvent().value(u"role").toString().toStdString()
                                                 << " \"" << lastFocused().toStdString() << '"';
        }
        [[nodiscard]] QString lastFocused() const { return lastFocusedEvent().value(u"name").toString(); }
        [[nodiscard]] QJsonObject lastFocusedEvent() const
        {
            for (auto event = m_heard.crbegin(); event != m_heard.crend(); ++event) {
                if (event->value(u"event").toString() == "focused")
                    return *event;
            }
            return {};
        }

    private:
        QProcess m_walker;
        bool m_listening = false;
        QList<QJsonObject> m_heard;
    };

    // Every node of the window's tree, depth first.
    QList<Node> tree()
    {
        QList<Node> nodes;
        const std::optional<QByteArray> output = walk(QStringLiteral("dump"));
        if (!output)
            return nodes;
        const std::function<void(const QJsonObject&)> visit = [&](const QJsonObject& object) {
            const auto strings = [&](const char* key) {
                QStringList list;
                for (const QJsonValue& value : object.value(QLatin1String(key)).toArray())
                    list.append(value.toString());
                return list;
            };
            nodes.append({ object.value(u"role").toString(), object.value(u"name").toString(),
                object.value(u"description").toString(), strings("states"), strings("actions") });
            for (const QJsonValue& child : object.value(u"children").toArray())
                visit(child.toObject());
        };
        visit(QJsonDocument::fromJson(*output).object());
        return nodes;
    }

    // Presses the node of that name (and role) through its press action.
    void press(const QString& name, const QString& role = QStringLiteral("push button"))
    {
        EXPECT_TRUE(walk(QStringLiteral("press"), { name, role }).has_value()) << name.toStdString();
    }

    // Records a loop said again until the cycle card is up.
    void raiseCycleCard(testing::FakeRoomModel& room)
    {
        room.update([](auto& s) {
            s.isRecording = true;
            s.elapsed = 100;
            s.liveCircularity
                = CircularityEvidence { true, 0.9, "dinner", "You have each restated the dinner point.",
                      "\u201cWhat I really want at dinner is to feel chosen.\u201d" };
        });
        room.sayDistinctTurns([&] { return shell.shows("cycleOverlay"); });
    }

    // A recording in which each seat has spoken, so that both can be coached.
    static void recordBothSeats(testing::FakeRoomModel& room)
    {
        room.update([](auto& s) {
            s.isRecording = true;
            s.elapsed = 40;
        });
        room.say(0, 2, 12, "I want to talk about dinner tonight.");
        room.say(1, 12, 30, "I check my phone more than I want to admit.");
    }

    [[nodiscard]] QQuickItem* focused() const { return shell.window()->activeFocusItem(); }
    [[nodiscard]] QString focusedName() const { return focused() ? focused()->objectName() : QString(); }

    // Tab on from where the keyboard is (the window's first control, when on none) until the
    // control of that name has it.
    void tabOnTo(const QString& name)
    {
        if (!focused())
            shell.window()->contentItem()->forceActiveFocus();
        for (int press = 0; press < 60 && focusedName() != name; ++press)
            shell.press(Qt::Key_Tab);
        ASSERT_EQ(focusedName(), name);
    }

    // The item of that name, or the item of the popup of that name.
    [[nodiscard]] QQuickItem* itemOf(const QString& name) const
    {
        QObject* found = shell.find(name);
        if (auto* item = qobject_cast<QQuickItem*>(found))
            return item;
        const auto* content = found ? found->property("contentItem").value<QQuickItem*>() : nullptr;
        return content ? content->parentItem() : nullptr;
    }

    // Puts the keyboard on the control of that name that shows, as Tab would bring it there
    // (where it is not there already).
    void keyboardTo(const QString& name)
    {
        QQuickItem* shown = nullptr;
        for (QObject* found : testing::allUnder(shell.window()->contentItem(), name)) {
            if (auto* control = qobject_cast<QQuickItem*>(found); control && control->isVisible())
                shown = control;
        }
        ASSERT_NE(shown, nullptr) << name.toStdString() << " does not show";
        shown->forceActiveFocus(Qt::TabFocusReason);
        ASSERT_EQ(focused(), shown);
    }

    // Waits until the keyboard has landed on a control in the part of the window of that name.
    void landIn(const QString& part)
    {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const QQuickItem* inside = shell.has(part) ? itemOf(part) : nullptr;
                const QQuickItem* control = focused();
                return inside && control && control->activeFocusOnTab() && control->isVisible()
                    && control->isEnabled() && inside->isAncestorOf(control);
            },
            60000))
            << "the keyboard is on \"" << focusedName().toStdString() << "\", not in " << part.toStdString();
    }

    // Waits until the keyboard is in the part of the window (or the popup) of that name.
    void keyboardIn(const QString& part)
    {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                QQuickItem* inside = shell.has(part) ? itemOf(part) : nullptr;
                return inside && inside->isVisible() && focused()
                    && (focused() == inside || inside->isAncestorOf(focused()));
            },
            60000))
            << "the keyboard is on \"" << focusedName().toStdString() << "\", not in " << part.toStdString();
    }

    // Whether the item of that name shows whole in the view of the page of that name.
    [[nodiscard]] bool wholeInView(const QString& name, const QString& page) const
    {
        const auto* item = qobject_cast<QQuickItem*>(shell.find(name));
        const auto* view = qobject_cast<QQuickItem*>(shell.find(page));
        return item && view && shell.shows(name) && item->height() > 0
            && view->mapRectToScene(QRectF(0, 0, view->width(), view->height()))
                   .contains(item->mapRectToScene(QRectF(0, 0, item->width(), item->height())));
    }

    // What an update check says when the feed (the harness's, which answers nothing) is not
    // reached.
    static QString feedUnreachable()
    {
        return QStringLiteral("Corvane could not reach the update feed. Try again later.");
    }
    static QList<Node> named(const QList<Node>& nodes, const QString& name)
    {
        QList<Node> found;
        for (const Node& node : nodes) {
            if (node.name == name)
                found.append(node);
        }
        return found;
    }
    // The push buttons a screen reader meets, by name.
    static QStringList buttons(const QList<Node>& nodes)
    {
        QStringList names;
        for (const Node& node : nodes) {
            if (node.role == "push button")
                names.append(node.name);
        }
        names.sort();
        return names;
    }
    static bool has(const QList<Node>& nodes, const QString& role, const QString& name)
    {
        return std::ranges::any_of(
            nodes, [&](const Node& node) { return node.role == role && node.name == name; });
    }
    // Whether every node of that name is there and announced as unavailable: not enabled and
    // nothing to press.
    static bool disabled(const QList<Node>& nodes, const QString& name)
    {
        const QList<Node> found = named(nodes, name);
        return !found.isEmpty() && std::ranges::all_of(found, [](const Node& node) {
            return !node.states.contains("enabled") && !node.actions.contains("Press");
        });
    }
};

TEST_F(AccessibilityTest, TheShellAndTheAccountPageReadAndPressAsTheyShow)
{
    ASSERT_NE(shell.openWindow(session), nullptr);
    QList<Node> nodes = tree();
    ASSERT_FALSE(nodes.isEmpty());
    // Nothing hidden is there: the conversation's hidden header bar leaves no second set of
    // section buttons behind, the always-off scroll bar none either (this page does not
    // scroll, so everything on it is in view).
    for (const Node& node : nodes)
        EXPECT_TRUE(node.states.contains("visible"))
            << node.role.toStdString() << " '" << node.name.toStdString() << "'";
    // The room draws its own header: the other three sections and the theory guide.
    for (const char* title : { "History", "People", "Account", "Theory" })
        EXPECT_EQ(named(nodes, title).size(), 1) << title;
    EXPECT_TRUE(named(nodes, "Conversation").isEmpty()) << "the room is the Conversation section";
    const Node theory = named(nodes, "Theory").value(0);
    EXPECT_EQ(theory.description, "Opens the six-stage Corvane theory guide");
    EXPECT_TRUE(has(nodes, "label", "Corvane")) << "the header's name is read";
    // An update check that cannot be made is announced as unavailable.
    press("Corvane", "menu item");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.find("appMenu")->property("opened").toBool(); }, 60000));
    EXPECT_TRUE(disabled(tree(), QString::fromUtf8("Check for Updates\u2026")));
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.find("appMenu")->property("visible").toBool(); }, 60000));

    // Each section button's press does what its click does.
    press("History");
    EXPECT_EQ(section(), 1);
    EXPECT_EQ(history.refreshes, QList<bool> { true });
    press("People");
    EXPECT_EQ(section(), 2);
    press("Account");
    EXPECT_EQ(section(), 3);

    // Signed out: what the page says is read, and what it hides is not there.
    nodes = tree();
    EXPECT_TRUE(
        named(nodes, "Account").value(0).states.contains("selected") || has(nodes, "label", "Account"));
    for (const char* text : { "Account", "Not signed in", "Sign in from Conversation when you are ready.",
             "what an account stores", "Your history, encrypted\u2014never your audio", "Corvane 1.4" })
        EXPECT_TRUE(has(nodes, "label", QString::fromUtf8(text))) << text;
    for (const char* button :
        { "Invite your partner", "Sign out", "Delete account", "Weekly check-in reminder" })
        EXPECT_TRUE(named(nodes, button).isEmpty()) << button << " belongs to a signed-in page";
    press("Go to Conversation");
    EXPECT_EQ(section(), 0);

    // Signed in: the identity, the pairing step that shows and nothing of the others.
    account.update([](auto& s) {
        s.isSignedIn = true;
        s.deviceLabel = QStringLiteral("This computer \u00b7 9f1c2b3a");
    });
    press("Account");
    nodes = tree();
    for (const char* text : { "Private Corvane account", "This computer \u00b7 9f1c2b3a", "your partner",
             "Share your history with your partner", "account controls" })
        EXPECT_TRUE(has(nodes, "label", QString::fromUtf8(text))) << text;
    EXPECT_FALSE(has(nodes, "label", "Sign in from Conversation when you are ready."));
    for (const char* hidden : { "Copy code", "Make a new code", "Link with my partner", "Unlink" })
        EXPECT_TRUE(named(nodes, hidden).isEmpty()) << hidden << " belongs to another pairing step";
    press("Invite your partner");
    press("Sign out");
    press("Delete account");
    EXPECT_EQ(account.calls, QStringList({ "refreshPairing", "createInvite", "signOut" }));
    EXPECT_TRUE(shell.shows("deleteConfirmation")) << "Delete account asks first, as its click does";
    EXPECT_EQ(
        named(tree(), shell.find("deleteConfirmation")->property("title").toString()).value(0).role, "dialog")
        << "the dialog is named by its title";
    press("Cancel");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.shows("deleteConfirmation"); }, 60000));
    press("Weekly check-in reminder", "check box");
    EXPECT_TRUE(account.state.reminderOn);
    EXPECT_TRUE(named(tree(), "Weekly check-in reminder").value(0).states.contains("checked"));
    press("I have a code");
    EXPECT_TRUE(has(tree(), "text", "Your partner's code"));

    // Another step: its code is read one character at a time.
    account.update([](auto& s) {
        s.pairingStep = AccountSession::FreshCode;
        s.inviteCode = QStringLiteral("7K3M-9Q2W");
    });
    nodes = tree();
    EXPECT_TRUE(has(nodes, "label", "Pairing code 7 K 3 M - 9 Q 2 W"));
    EXPECT_EQ(named(nodes, "Copy code").size(), 1);
    EXPECT_TRUE(named(nodes, "Invite your partner").isEmpty());
}

TEST_F(AccessibilityTest, TheRoomReadsItsExplainerAndPressesItsButtons)
{
    ASSERT_NE(shell.openWindow(session), nullptr);
    testing::FakeRoomModel& room = session.roomModel;
    QList<Node> nodes = tree();
    for (const char* text : { "A guided conversation, on the record.",
             "1. Press record and talk to each other \u2014 your words appear here live.",
             "Each of you names how activated you feel right now, and takes one slow breath before you "
             "start." })
        EXPECT_TRUE(has(nodes, "label", QString::fromUtf8(text))) << text;
    const Node mark = named(nodes, "Corvane mark").value(0);
    EXPECT_EQ(mark.description, "Reveal the thread underneath");
    EXPECT_EQ(named(nodes, "Weekly check-in").value(0).description,
        "A guided ten-minute check-in, recorded like a conversation.");
    for (const char* absent : { "Swap which side each voice appears on", "Pause", "Dismiss message",
             "Close hidden message", "Close break guidance" })
        EXPECT_TRUE(named(nodes, absent).isEmpty()) << absent << " does not show";
    EXPECT_TRUE(named(nodes, "Step 1, Arrive regulated").value(0).states.contains("selected"));
    // An idle room cannot be coached: both corners' buttons say so; the steps can be picked.
    EXPECT_EQ(named(nodes, "Get unstuck").size(), 2);
    EXPECT_TRUE(disabled(nodes, "Get unstuck"));
    EXPECT_TRUE(named(nodes, "Step 2, Name the cycle").value(0).states.contains("enabled"));

    press("Step 3, Reach underneath");
    EXPECT_EQ(room.state.selectedAgendaStep, 2);
    // The stage's row takes no press for a moment after its buttons change.
    auto* stage = qobject_cast<ConversationRoomState*>(shell.find("roomState"));
    ASSERT_NE(stage, nullptr);
    const auto rowSettles = [&] { return QTest::qWaitFor([&] { return stage->takesRowPress(); }, 60000); };
    press("Watch a rehearsal");
    EXPECT_EQ(shell.text("primaryButton"), "End rehearsal");
    ASSERT_TRUE(rowSettles());
    press("End rehearsal");
    EXPECT_EQ(shell.text("primaryButton"), "Start conversation");
    ASSERT_TRUE(rowSettles());
    press("Start conversation");
    EXPECT_EQ(room.toggles, 1);
    press("Corvane mark");
    nodes = tree();
    EXPECT_TRUE(has(nodes, "label", "Make room before making the point."));
    press("Close hidden message");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.shows("hiddenMessage"); }, 60000));
}

// The guidance cards are read as they show, the keyboard on their first button, and their
// buttons press as they click.
TEST_F(AccessibilityTest, TheGuidanceCardsAreReadWithTheKeyboardOnThem)
{
    ASSERT_NE(shell.openWindow(session), nullptr);
    testing::FakeRoomModel& room = session.roomModel;
    const auto focusedOn = [](const QList<Node>& nodes, const char* button) {
        return named(nodes, button).value(0).states.contains("focused");
    };
    raiseCycleCard(room);
    ASSERT_TRUE(shell.shows("cycleOverlay"));
    QList<Node> nodes = tree();
    for (const char* text : { "the cycle is repeating", "The same loop may be taking over.",
             "You have each restated the dinner point.",
             "\u201cWhat I really want at dinner is to feel chosen.\u201d" })
        EXPECT_TRUE(has(nodes, "label", QString::fromUtf8(text))) << text;
    EXPECT_EQ(named(nodes, "Close repeated cycle guidance").size(), 1);
    EXPECT_TRUE(focusedOn(nodes, "Step out of the loop"));
    press("Step out of the loop");
    EXPECT_FALSE(shell.shows("cycleOverlay"));
    EXPECT_EQ(room.circularityClears, 1);

    room.update([](auto& s) { s.elapsed = 88 + 121; });
    ASSERT_TRUE(shell.shows("floorOverlay"));
    nodes = tree();
    EXPECT_TRUE(has(nodes, "label", QString::fromUtf8("You\u2019ve held the floor for two minutes.")));
    EXPECT_TRUE(focusedOn(nodes, "One minute to reach underneath"));
    press("Dismiss floor guidance");
    EXPECT_FALSE(shell.shows("floorOverlay"));

    room.flood(300);
    ASSERT_TRUE(shell.shows("breakOverlay"));
    nodes = tree();
    for (const char* text : { "the cycle is running hot",
             "You\u2019re both too activated to reach each other right now.", "breathe in" })
        EXPECT_TRUE(has(nodes, "label", QString::fromUtf8(text))) << text;
    EXPECT_EQ(named(nodes, "Close break guidance").size(), 1);
    EXPECT_EQ(named(nodes, "Pause & save").size(), 1);
    EXPECT_TRUE(focusedOn(nodes, "Keep talking"));
    press("Keep talking");
    EXPECT_FALSE(shell.shows("breakOverlay"));
    EXPECT_EQ(room.finishes, 0);
}

// What a card or a sheet lies over is not read: the room's controls under the setup sheet, the
// cycle and break cards and the review sheet are out of the tree, and a card is a dialog named
// by its headline with its text as its description; the floor card, over nothing, a
// notification.
TEST_F(AccessibilityTest, WhatACardOrASheetCoversIsNotRead)
{
    history.entries()->replace({ testing::storedRow('a', "Bills") });
    session.state.recordingAgreementAccepted = false;
    ASSERT_NE(shell.openWindow(session), nullptr);
    testing::FakeRoomModel& room = session.roomModel;
    const auto dialog = [](const QList<Node>& nodes, const char* role, const char* name) {
        const auto found = std::ranges::find_if(nodes, [&](const Node& node) {
            return node.role == QLatin1String(role) && node.name == QString::fromUtf8(name);
        });
        return found == nodes.end() ? Node {} : *found;
    };
    const QStringList roomControls { "History", "People", "Account", "Theory", "Corvane mark",
        "Start conversation", "Watch a rehearsal" };

    QList<Node> nodes = tree();
    EXPECT_TRUE(has(nodes, "dialog", "Welcome to Corvane"));
    for (const QString& control : roomControls)
        EXPECT_TRUE(named(nodes, control).isEmpty()) << control.toStdString() << " under the setup sheet";
    EXPECT_FALSE(has(nodes, "label", "A guided conversation, on the record."));
    EXPECT_FALSE(has(nodes, "menu item", "Corvane")) << "the menu bar under the setup sheet";
    press("Close");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("setupSheet"); }, 60000));
    EXPECT_EQ(named(tree(), "History").size(), 1) << "the room is read again once the sheet closed";

    raiseCycleCard(room);
    ASSERT_TRUE(shell.shows("cycleOverlay"));
    nodes = tree();
    EXPECT_EQ(buttons(nodes), QStringList({ "Close repeated cycle guidance", "Step out of the loop" }));
    const Node cycle = dialog(nodes, "dialog", "The same loop may be taking over.");
    EXPECT_TRUE(cycle.description.startsWith("You do not have to prove the point one more time."))
        << cycle.description.toStdString();
    press("Step out of the loop");
    ASSERT_FALSE(shell.shows("cycleOverlay"));

    room.update([](auto& s) { s.elapsed = 88 + 121; });
    ASSERT_TRUE(shell.shows("floorOverlay"));
    nodes = tree();
    EXPECT_TRUE(dialog(nodes, "notification", "You\u2019ve held the floor for two minutes.")
                    .description.startsWith("Name the softer truth underneath"));
    EXPECT_EQ(named(nodes, "History").size(), 1) << "the floor card has no backdrop";
    press("Dismiss floor guidance");

    room.flood(300);
    ASSERT_TRUE(shell.shows("breakOverlay"));
    nodes = tree();
    EXPECT_EQ(buttons(nodes), QStringList({ "Close break guidance", "Keep talking", "Pause & save" }));
    EXPECT_TRUE(
        dialog(nodes, "dialog", "You\u2019re both too activated to reach each other right now.")
            .description.startsWith(QString::fromUtf8("When you\u2019re flooded, the cycle takes over.")));
    press("Keep talking");
    ASSERT_FALSE(shell.shows("breakOverlay"));

    press("History");
    shell.click("historyCard:" + testing::keyOf('a'));
    history.answerReview(testing::longReview('a', 3));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDetail"); }, 60000));
    nodes = tree();
    for (const char* control : { "Conversation", "People", "Theory", "More actions for this conversation" })
        EXPECT_TRUE(named(nodes, control).isEmpty()) << control << " under the review sheet";
    EXPECT_EQ(named(nodes, "Done").size(), 1);
}

// A dialog over a sheet and the coaching popover over the room leave nothing under them to
// read, at both sizes: under the question about deleting, nothing of the review sheet; under
// the popover, nothing of the room, and the popover is one dialog.
TEST_F(AccessibilityTest, WhatTheDeleteQuestionOrThePopoverCoversIsNotRead)
{
    history.entries()->replace({ testing::storedRow('a', "Bills") });
    ASSERT_NE(shell.openWindow(session), nullptr);
    recordBothSeats(session.roomModel);
    const auto dialogs = [](const QList<Node>& nodes) {
        return std::ranges::count_if(nodes, [](const Node& node) { return node.role == "dialog"; });
    };
    for (const QSize size : { QSize(920, 680), testing::WindowHarness::desktop }) {
        const std::string at = std::to_string(size.width());
        shell.resize(size);
        press("Get unstuck");
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("coachPopover"); }, 60000));
        QList<Node> nodes = tree();
        EXPECT_EQ(buttons(nodes), QStringList({ "Close coaching", "Read the conversation again" })) << at;
        EXPECT_TRUE(named(nodes, "Finish conversation").isEmpty()) << at;
        EXPECT_EQ(dialogs(nodes), 1) << at << ": the popover is one dialog";
        EXPECT_TRUE(has(nodes, "dialog", shell.text("coachTitle"))) << at;
        shell.screenshot(QString::fromStdString("covered-popover-" + at));
        press("Close coaching");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("coachPopover"); }, 60000));

        press("History");
        shell.click("historyCard:" + testing::keyOf('a'));
        history.answerReview(testing::longReview('a', 3));
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDetail"); }, 30000));
        const auto* sheet = history.reviewSheet();
        press(sheet->deletion().button);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDeleteConfirmation"); }, 60000));
        nodes = tree();
        EXPECT_EQ(buttons(nodes), QStringList({ "Cancel", sheet->deletion().confirm })) << at;
        EXPECT_TRUE(named(nodes, "Done").isEmpty()) << at << ": Done under the question";
        EXPECT_TRUE(has(nodes, "dialog", sheet->deletion().title)) << at;
        shell.screenshot(QString::fromStdString("covered-delete-question-" + at));
        press("Cancel");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("reviewDeleteConfirmation"); }, 60000));
        EXPECT_EQ(named(tree(), "Done").size(), 1) << at << ": the sheet is read again";
        press("Done");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("reviewDetail"); }, 60000));
        press("Conversation");
    }
}

// Each control says what it is and which one it is: the reminder is a switch that is on or
// off and says why it cannot be on; the menu bar, its titles and its menus are named as what
// they are; the seats' coaching buttons, History's cards and their "More actions" buttons
// are told apart by their descriptions, which carry what the cards show, their badges and
// notes among it.
TEST_F(AccessibilityTest, EachControlSaysWhatItIsAndWhichOne)
{
    ConversationHistoryEntry kept = testing::storedRow('a', "About dishes");
    kept.backup = ConversationBackupDisplayState::backedUp;
    ConversationHistoryEntry waiting = testing::historyRow('b', "About dishes");
    waiting.backup = ConversationBackupDisplayState::waiting;
    waiting.waitsForRoom = true;
    waiting.completedAt = kept.completedAt.addSecs(3600);
    ConversationHistoryEntry checkin = testing::historyRow('c', "About dishes");
    checkin.mode = ConversationMode::checkin;
    checkin.backup = ConversationBackupDisplayState::backedUp;
    checkin.workspace = ConversationWorkspaceScope::previous;
    ConversationHistoryEntry hidden = testing::storedRow('d', "About the move");
    hidden.isHidden = true;
    history.entries()->replace({ kept, waiting, checkin, hidden });
    ASSERT_NE(shell.openWindow(session), nullptr);

    // The menu bar and its titles, and a menu named by its title.
    QList<Node> nodes = tree();
    const auto bar = std::ranges::find_if(nodes, [](const Node& node) { return node.role == "menu bar"; });
    ASSERT_NE(bar, nodes.end());
    EXPECT_FALSE(bar->name.isEmpty()) << "the menu bar is named";
    EXPECT_EQ(std::ranges::count_if(nodes, [](const Node& node) { return node.role == "menu bar"; }), 1)
        << "its titles are menu items, not menu bars";
    EXPECT_TRUE(has(nodes, "menu item", "Corvane"));
    EXPECT_TRUE(has(nodes, "menu item", "View"));
    press("View", named(nodes, "View").value(0).role);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.find("viewMenu")->property("opened").toBool(); }, 60000));
    EXPECT_TRUE(has(tree(), "popup menu", "View"));
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !shell.find("viewMenu")->property("visible").toBool(); }, 60000));

    // The seats' coaching buttons keep their label and say whose they are.
    recordBothSeats(session.roomModel);
    const QList<Node> coaching = named(tree(), "Get unstuck");
    ASSERT_EQ(coaching.size(), 2);
    EXPECT_TRUE(coaching[0].description.contains("Person 1")) << coaching[0].description.toStdString();
    EXPECT_TRUE(coaching[1].description.contains("Person 2")) << coaching[1].description.toStdString();

    // History's cards: one name each, as their headings read, told apart by what they show.
    press("History");
    nodes = tree();
    const QList<Node> cards = named(nodes, "About dishes");
    ASSERT_EQ(cards.size(), 3);
    const auto described = [&](char key) {
        const QString id = testing::keyOf(key);
        const QString time = shell.find("card:" + id)->property("time").toString();
        const auto found = std::ranges::find_if(cards, [&](const Node& card) {
            return card.description.contains(time)
                && card.description.contains(shell.find("card:" + id)->property("subtitle").toString());
        });
        return found == cards.end() ? QString() : found->description;
    };
    const QString first = described('a');
    const QString second = described('b');
    const QString third = shell.find("card:" + testing::keyOf('c'))->property("checkinLabel").toString();
    EXPECT_TRUE(first.contains("In your history")) << first.toStdString();
    EXPECT_TRUE(second.contains("Not backed up yet")) << second.toStdString();
    EXPECT_TRUE(second.contains(HistoryTexts::backupNote(waiting))) << "the full account's note";
    const auto checkinCard = std::ranges::find_if(
        cards, [&](const Node& card) { return !third.isEmpty() && card.description.contains(third); });
    const QString checkinDescription = checkinCard == cards.end() ? QString() : checkinCard->description;
    EXPECT_TRUE(checkinDescription.contains(QString::fromUtf8("Earlier history \u00b7 read only")))
        << "the check-in's week and its badge: " << checkinDescription.toStdString();
    const QList<Node> more = named(nodes, "More actions for this conversation");
    ASSERT_EQ(more.size(), 3);
    QStringList moreDescriptions;
    for (const Node& node : more)
        moreDescriptions.append(node.description);
    moreDescriptions.removeDuplicates();
    EXPECT_EQ(moreDescriptions.size(), 3) << moreDescriptions.join(" | ").toStdString();
    EXPECT_FALSE(moreDescriptions.contains(QString()));
    press("More actions for this conversation");
    const auto menuOpen = [&] {
        return std::ranges::any_of(std::string_view("abc"), [&](char key) {
            return shell.find("historyActions:" + testing::keyOf(key))->property("opened").toBool();
        });
    };
    ASSERT_TRUE(QTest::qWaitFor(menuOpen, 60000));
    EXPECT_TRUE(has(tree(), "popup menu", "More actions for this conversation"))
        << "the card's menu is named";
    shell.press(Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !menuOpen(); }, 60000));

    // The hidden conversations' toggle: a check box that says whether they are shown.
    const QString toggleName = HistoryTexts::hiddenToggle(1);
    const Node folded = named(tree(), toggleName).value(0);
    EXPECT_EQ(folded.role, "check box");
    EXPECT_FALSE(folded.states.contains("checked"));
    press(toggleName, folded.role);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("hiddenRow:" + testing::keyOf('d')); }, 60000));
    EXPECT_TRUE(named(tree(), toggleName).value(0).states.contains("checked"));

    // The reminder: a switch that says whether it is on, and why it could not be.
    account.update([](auto& s) { s.isSignedIn = true; });
    press("Account");
    const Node reminder = named(tree(), "Weekly check-in reminder").value(0);
    EXPECT_EQ(reminder.role, "check box");
    EXPECT_FALSE(reminder.states.contains("checked"));
    EXPECT_TRUE(reminder.actions.contains("Toggle")) << reminder.actions.join(",").toStdString();
    account.update([](auto& s) { s.reminderNote = SessionViewModel::noNotificationServerNote(); });
    EXPECT_TRUE(has(tree(), "notification", SessionViewModel::noNotificationServerNote()))
        << "the refusal is announced";
}

// What answers a request is announced as it appears, the keyboard stays on the control that
// asked or on the one beside the message, and the message is in view: the account's deletion
// refused and left unconfirmed, a sign-in refused for too many attempts and one whose browser
// could not be opened, a page that no browser opened, a conversation's deletion that waits for
// the partner and a failure over its sheet (said once, not again under the sheet), a
// conversation that could not start, an invitation refused and an update check that found no
// feed; the floor card is said as it shows, the keyboard on it; by keys, at both sizes.
TEST_F(AccessibilityTest, EachAnswerIsAnnouncedAsItAppearsBesideTheControlThatAsked)
{
    history.entries()->replace({ testing::storedRow('a', "Bills") });
    history.deletionKinds[testing::keyOf('a')] = HistoryModel::SharedWithPartner;
    history.deletionOutcome = ConversationDeletionOutcome::awaitingPartner({ true, 1, 2 });
    session.browserOpens = false;
    ASSERT_NE(shell.openWindow(session, true), nullptr);
    testing::FakeRoomModel& room = session.roomModel;
    const QString refused = SessionViewModel::accountNotDeletedMessage();
    const QString unconfirmed = SessionViewModel::accountDeletionUnconfirmedMessage();
    const QString tooMany = SessionViewModel::tooManySignInsMessage(240);
    const QString noBrowser = SessionViewModel::browserNotOpenedMessage();
    const QString partnerAsked = ReviewTexts::partnerAskedNote();
    const QString noPageBrowser = shell.find("unopenedPageDialog")->property("message").toString();
    const QString notStarted
        = QStringLiteral("The conversation could not start. Check your connection and try again.");
    const QString heldTwoMinutes = QString::fromUtf8("You\u2019ve held the floor for two minutes.");
    const QString minuteUp = QStringLiteral("The extra minute is up.");
    const QString notConnected = SessionViewModel::notConnectedMessage();
    const QString notDeleted
        = QStringLiteral("That conversation could not be deleted from your account. Nothing was removed.");
    for (const QSize size : { QSize(920, 680), testing::WindowHarness::desktop }) {
        const std::string at = " at " + std::to_string(size.width());
        shell.resize(size);
        Listener listener;
        // The keyboard is on the control of that name, as the window and the bus both say.
        const auto keyboardOn = [&](const QString& name) {
            if (!QTest::qWaitFor([&] { return focusedName() == name; }, 60000))
                return ::testing::AssertionFailure() << "the keyboard is on \"" << focusedName().toStdString()
                                                     << "\", not " << name.toStdString();
            const QString read = QAccessible::queryAccessibleInterface(focused())->text(QAccessible::Name);
            if (!listener.hearsFocusOn(read))
                return ::testing::AssertionFailure()
                    << "the bus last heard the keyboard on \"" << listener.lastFocused().toStdString() << '"';
            return ::testing::AssertionSuccess();
        };
        const auto answer = [&](const QString& control, const QString& question) {
            ASSERT_NO_FATAL_FAILURE(keyboardTo(control));
            shell.press(Qt::Key_Return);
            ASSERT_NO_FATAL_FAILURE(keyboardIn(question)) << at;
            ASSERT_NO_FATAL_FAILURE(tabOnTo(question + "Confirm"));
            shell.press(Qt::Key_Return);
            // The request is under way for a while: the window settles before it is answered.
            shell.waitForFrame();
        };
        // The answer `text` announced, the keyboard on `control`, the item `message` whole in
        // the view of `page`.
        const auto answered
            = [&](const QString& text, const QString& control, const QString& message, const QString& page) {
                  EXPECT_TRUE(listener.announces(text)) << at;
                  EXPECT_TRUE(keyboardOn(control)) << at;
                  EXPECT_TRUE(wholeInView(message, page)) << at;
              };

        // The account's deletion, refused and then left unconfirmed.
        account.update([](auto& s) { s.isSignedIn = true; });
        ASSERT_NO_FATAL_FAILURE(keyboardTo("sectionAccount"));
        shell.press(Qt::Key_Return);
        ASSERT_NO_FATAL_FAILURE(landIn("accountScroll"));
        ASSERT_NO_FATAL_FAILURE(answer("deleteAccountButton", "deleteConfirmation"));
        ASSERT_TRUE(account.state.isBusy);
        account.update([&](auto& s) {
            s.isBusy = false;
            s.deletionNote = refused;
        });
        answered(refused, "deleteAccountButton", "deletionNote", "accountScroll");
        shell.screenshot(QStringLiteral("announced-deletion-refused-%1").arg(size.width()));
        ASSERT_NO_FATAL_FAILURE(answer("deleteAccountButton", "deleteConfirmation"));
        account.update([&](auto& s) {
            s.isBusy = false;
            s.isSignedIn = false;
            s.deletionNote = unconfirmed;
        });
        answered(unconfirmed, "goToConversationButton", "identityDeletionNote", "accountScroll");
        shell.screenshot(QStringLiteral("announced-deletion-unconfirmed-%1").arg(size.width()));
        ASSERT_NO_FATAL_FAILURE(keyboardTo("goToConversationButton"));
        shell.press(Qt::Key_Return);
        ASSERT_NO_FATAL_FAILURE(landIn("conversationRoom"));
        account.update([](auto& s) { s.deletionNote.clear(); });

        // Signing in: too many attempts, then a browser that could not be opened.
        session.update([](auto& s) { s.recordingAgreementAccepted = false; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("setupSheet"); }, 60000));
        ASSERT_NO_FATAL_FAILURE(tabOnTo("agreeButton"));
        shell.press(Qt::Key_Return);
        ASSERT_NO_FATAL_FAILURE(landIn("setupFlow"));
        ASSERT_NO_FATAL_FAILURE(tabOnTo("signInButton"));
        shell.press(Qt::Key_Return);
        shell.waitForFrame();
        session.update([&](auto& s) {
            s.isAppleAuthorizationActive = false;
            s.errorMessage = tooMany;
        });
        answered(tooMany, "signInButton", "setupError", "setupScroll");
        shell.press(Qt::Key_Return);
        shell.waitForFrame();
        session.update([&](auto& s) {
            s.isAppleAuthorizationActive = false;
            s.errorMessage = noBrowser;
            s.signInAddress = QStringLiteral("https://127.0.0.1:8443/dev/sign-in?request=5d2c");
        });
        answered(noBrowser, "signInButton", "setupError", "setupScroll");
        shell.screenshot(QStringLiteral("announced-browser-not-opened-%1").arg(size.width()));
        shell.press(Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("setupSheet"); }, 60000));
        session.update([](auto& s) {
            s.errorMessage.clear();
            s.signInAddress.clear();
        });
        ASSERT_NO_FATAL_FAILURE(landIn("conversationRoom"));

        // A page no browser opened.
        ASSERT_NO_FATAL_FAILURE(keyboardTo("theoryButton"));
        shell.press(Qt::Key_Return);
        EXPECT_TRUE(listener.announces(noPageBrowser)) << at;
        EXPECT_NO_FATAL_FAILURE(keyboardIn("unopenedPageDialog")) << at;
        shell.press(Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("unopenedPageDialog"); }, 60000));
        ASSERT_NO_FATAL_FAILURE(landIn("conversationRoom"));

        // A conversation's deletion that the partner is asked to agree to.
        ASSERT_NO_FATAL_FAILURE(keyboardTo("sectionHistory"));
        shell.press(Qt::Key_Return);
        ASSERT_NO_FATAL_FAILURE(landIn("historyScroll"));
        ASSERT_NO_FATAL_FAILURE(keyboardTo("historyCard:" + testing::keyOf('a')));
        shell.press(Qt::Key_Return);
        history.answerReview(testing::conversationReview('a'));
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDetail"); }, 60000));
        ASSERT_NO_FATAL_FAILURE(keyboardIn("reviewDetail"));
        ASSERT_NO_FATAL_FAILURE(answer("reviewDeleteButton", "reviewDeleteConfirmation"));
        answered(partnerAsked, "reviewDeleteButton", "deletionNote", "reviewScroll");
        shell.screenshot(QStringLiteral("announced-partner-asked-%1").arg(size.width()));
        // A failure while the sheet is up is said once, by the sheet's banner: History's, under
        // the sheet, says nothing, by the time the keyboard is heard back on History.
        history.update([&](auto& s) { s.errorMessage = notDeleted; });
        EXPECT_TRUE(listener.announces(notDeleted)) << at;
        EXPECT_TRUE(keyboardOn("reviewDeleteButton")) << at;
        shell.press(Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("reviewDetail"); }, 60000));
        ASSERT_NO_FATAL_FAILURE(landIn("historyScroll"));
        EXPECT_TRUE(keyboardOn(focusedName())) << at;
        EXPECT_EQ(listener.times(notDeleted), 1) << at;
        history.update([](auto& s) { s.errorMessage.clear(); });
        shell.press(Qt::Key_1, Qt::ControlModifier);
        ASSERT_NO_FATAL_FAILURE(landIn("conversationRoom"));

        // A conversation that could not start.
        ASSERT_NO_FATAL_FAILURE(keyboardTo("primaryButton"));
        shell.press(Qt::Key_Return);
        room.update([&](auto& s) { s.errorMessage = notStarted; });
        answered(notStarted, "primaryButton", "errorBanner", "conversationRoom");
        shell.screenshot(QStringLiteral("announced-not-started-%1").arg(size.width()));
        room.update([](auto& s) { s.errorMessage.clear(); });

        // A partner who held the floor for two minutes, then for the extra minute: the card takes
        // the keyboard.
        room.update([&](auto& s) { s.currentSessionID = QString::number(size.width()); });
        recordBothSeats(room);
        for (const auto& [elapsed, headline] :
            { std::pair(12 + 121, heldTwoMinutes), std::pair(12 + 181, minuteUp) }) {
            room.update([&](auto& s) { s.elapsed = elapsed; });
            EXPECT_TRUE(listener.announces(headline)) << at;
            EXPECT_TRUE(keyboardOn("floorButton")) << at;
            shell.press(Qt::Key_Escape);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("floorOverlay"); }, 60000)) << at;
        }
        room.update([](auto& s) {
            s.isRecording = false;
            s.elapsed = 0;
            s.turns.clear();
        });

        // An invitation the account could not make, and an update check that found no feed.
        account.update([](auto& s) { s.isSignedIn = true; });
        ASSERT_NO_FATAL_FAILURE(keyboardTo("sectionAccount"));
        shell.press(Qt::Key_Return);
        ASSERT_NO_FATAL_FAILURE(landIn("accountScroll"));
        ASSERT_NO_FATAL_FAILURE(keyboardTo("inviteButton"));
        shell.press(Qt::Key_Return);
        account.update([](auto& s) { s.isPairingBusy = true; });
        shell.waitForFrame();
        account.update([&](auto& s) {
            s.isPairingBusy = false;
            s.pairingError = notConnected;
        });
        answered(notConnected, "inviteButton", "pairingError", "accountScroll");
        shell.screenshot(QStringLiteral("announced-pairing-error-%1").arg(size.width()));
        account.update([](auto& s) { s.pairingError.clear(); });
        ASSERT_NO_FATAL_FAILURE(keyboardTo("checkForUpdatesButton"));
        shell.press(Qt::Key_Return);
        answered(feedUnreachable(), "checkForUpdatesButton", "updateMessage", "accountScroll");
        shell.screenshot(QStringLiteral("announced-update-message-%1").arg(size.width()));
        shell.press(Qt::Key_1, Qt::ControlModifier);
        ASSERT_NO_FATAL_FAILURE(landIn("conversationRoom"));
    }
}

// The reminder's Day, Hour and Minute boxes say their value, closed and open: the keyboard on a
// box, a screen reader reads what it chooses and the value it shows; moving in its open list,
// each entry the keys come to; the list's choice taken, the box again with its new value. By
// keys, at both sizes.
TEST_F(AccessibilityTest, TheReminderBoxesSayTheirValueClosedAndOpen)
{
    account.state.isSignedIn = true;
    account.state.reminderOn = true;
    ASSERT_NE(shell.openWindow(session), nullptr);
    ASSERT_NO_FATAL_FAILURE(keyboardTo("sectionAccount"));
    shell.press(Qt::Key_Return);
    ASSERT_NO_FATAL_FAILURE(landIn("accountScroll"));
    struct Box {
        const char* name;
        const char* reads;
        std::function<QString()> value;
    };
    const Box boxes[] = {
        { "reminderWeekday", "Day",
            [&] { return AccountSession::weekdayNames().value(account.state.reminderWeekday - 1); } },
        { "reminderHour", "Hour",
            [&] { return QString::number(account.state.reminderHour).rightJustified(2, u'0'); } },
        { "reminderMinute", "Minute",
            [&] { return QString::number(account.state.reminderMinute).rightJustified(2, u'0'); } },
    };
    for (const QSize size : { QSize(920, 680), testing::WindowHarness::desktop }) {
        shell.resize(size);
        Listener listener;
        for (const Box& box : boxes) {
            const std::string at = std::string(box.reads) + " at " + std::to_string(size.width());
            const QString before = box.value();
            ASSERT_NO_FATAL_FAILURE(keyboardTo(box.name));
            EXPECT_TRUE(listener.hearsFocusSaying("combo box", { box.reads, before })) << at << ", closed";
            shell.press(Qt::Key_Space);
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    return shell.find(box.name)
                        ->property("popup")
                        .value<QObject*>()
                        ->property("opened")
                        .toBool();
                },
                60000))
                << at;
            shell.press(Qt::Key_Down);
            QString next;
            QMetaObject::invokeMethod(shell.find(box.name), "textAt", Q_RETURN_ARG(QString, next),
                Q_ARG(int, shell.find(box.name)->property("highlightedIndex").toInt()));
            EXPECT_NE(next, before) << at;
            EXPECT_TRUE(listener.hearsFocusSaying("list item", { next })) << at << ", open";
            shell.press(Qt::Key_Return);
            ASSERT_TRUE(QTest::qWaitFor([&] { return box.value() == next; }, 60000)) << at;
            EXPECT_TRUE(listener.hearsFocusSaying("combo box", { box.reads, next })) << at << ", chosen";
            EXPECT_EQ(focusedName(), box.name) << at;
        }
        shell.screenshot(QStringLiteral("reminder-boxes-read-%1").arg(size.width()));
    }
}

// A row of the check-in's transcript that the eye cannot see, wholly under the section's strip
// and heading that stay in view over the page or scrolled out of the page, does not show to a
// screen reader either; every row in sight does, at both sizes, at either end of the page.
TEST_F(AccessibilityTest, CheckinRowsOutOfSightDoNotShow)
{
    ASSERT_NE(shell.openWindow(session), nullptr);
    testing::FakeRoomModel& room = session.roomModel;
    room.update([](auto& s) {
        s.checkinPack = testing::packWithNote();
        s.checkinFlow = CheckinFlow(5, 1, 0);
        s.isRecording = true;
        s.isCheckinRunning = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("checkinRoom"); }, 60000));
    for (int line = 0; line < 16; ++line)
        room.say(line % 2, line * 10, line * 10 + 8,
            QStringLiteral("Line %1 of what we said this week, long enough to take a line or two.")
                .arg(line + 1));
    const auto sceneRect = [](const QQuickItem* item) {
        return item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
    };
    const std::function<void(QQuickItem*, QList<QQuickItem*>&)> paragraphs
        = [&](QQuickItem* item, auto& found) {
              for (QQuickItem* child : item->childItems()) {
                  if (child->objectName() == "turnParagraph")
                      found.append(child);
                  paragraphs(child, found);
              }
          };
    auto* page = qobject_cast<QQuickItem*>(shell.find("checkinPage"));
    auto* head = qobject_cast<QQuickItem*>(shell.find("sectionHead"));
    qobject_cast<QQuickItem*>(shell.find("backButton"))->forceActiveFocus(Qt::TabFocusReason);
    for (const QSize size : { QSize(920, 680), testing::WindowHarness::desktop }) {
        shell.resize(size);
        for (const Qt::Key end : { Qt::Key_End, Qt::Key_Home }) {
            const std::string at
                = std::to_string(size.width()) + (end == Qt::Key_End ? " at the end" : " at the top");
            shell.press(end);
            shell.waitForFrame();
            // What of the page the eye sees: below the strip while it stays in view over the page.
            QRectF open = sceneRect(page);
            if (head->property("pinned").toBool())
                open.setTop(sceneRect(head).bottom());
            QList<QQuickItem*> rows;
            paragraphs(qobject_cast<QQuickItem*>(shell.find("checkinTranscript")), rows);
            ASSERT_EQ(rows.size(), 16) << at;
            const QList<Node> nodes = tree();
            int outOfSight = 0;
            for (const QQuickItem* row : rows) {
                const QString text = row->property("text").toString();
                const auto read = std::ranges::find_if(nodes,
                    [&](const Node& node) { return node.role == "label" && node.name.endsWith(text); });
                ASSERT_NE(read, nodes.end()) << at << ": " << text.toStdString();
                const QRectF drawn = sceneRect(row);
                const bool seen = drawn.bottom() > open.top() && drawn.top() < open.bottom();
                outOfSight += seen ? 0 : 1;
                EXPECT_EQ(read->states.contains("showing"), seen) << at << ": " << text.toStdString();
            }
            EXPECT_GT(outOfSight, 0) << at;
            if (end == Qt::Key_End)
                shell.screenshot(QStringLiteral("checkin-rows-in-sight-%1").arg(size.width()));
        }
    }
}

// A transcript row's chips, drawn as one picture, are each read as a text with its words.
TEST_F(AccessibilityTest, TheTranscriptsChipsAreReadOneByOne)
{
    ASSERT_NE(shell.openWindow(session), nullptr);
    session.roomModel.update([](auto& s) {
        s.isRecording = true;
        s.elapsed = 20;
        s.turns = { SpeakerTurn(0, 0, 5, "You never put the phone down at dinner.") };
        s.annotations = { BehaviorAnnotation(0, 0, BehaviorCode::criticism, 0.826, 0, 5) };
        s.fouls = { ProcessFoulAnnotation(0, 0, ProcessFoul::globalizing, 0.7, 0, 5) };
    });
    const QList<Node> nodes = tree();
    for (const char16_t* chip : { u"Protest \u00B7 82%", u"Always / never \u00B7 70%" })
        EXPECT_TRUE(has(nodes, "label", QString::fromUtf16(chip))) << QString::fromUtf16(chip).toStdString();
}

TEST_F(AccessibilityTest, TheCheckinRoomReadsItsSectionsAndPressesItsButtons)
{
    ASSERT_NE(shell.openWindow(session), nullptr);
    testing::FakeRoomModel& room = session.roomModel;
    room.update([](auto& s) {
        CheckinPack pack;
        pack.week = QStringLiteral("2026-W07");
        for (const char* title :
            { "Temperature", "Appreciation", "Follow-up", "This week's question", "Close" })
            pack.sections.append(CheckinSection { QString(), QString::fromUtf8(title), 1,
                { CheckinPrompt { QStringLiteral("How are you arriving today?"), std::nullopt } } });
        s.checkinPack = pack;
        s.checkinFlow = CheckinFlow(5, 0, 0);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("checkinRoom"); }, 60000));
    QList<Node> nodes = tree();
    for (const char* text : { "Weekly check-in", "WEEK OF FEB 9", "How are you arriving today?",
             "About 1 minutes suggested for this section",
             "Nothing here is scored. Corvane just listens and writes a short summary after." })
        EXPECT_TRUE(has(nodes, "label", QString::fromUtf8(text))) << text;
    EXPECT_TRUE(named(nodes, "Section 1, Temperature").value(0).states.contains("selected"));
    EXPECT_FALSE(named(nodes, "Section 2, Appreciation").value(0).states.contains("selected"));
    // The first section has nothing before it.
    EXPECT_TRUE(disabled(nodes, "Back"));
    EXPECT_TRUE(named(nodes, "Next").value(0).states.contains("enabled"));
    for (const char* absent : { "Start conversation", "Pause", "Dismiss message", "Corvane mark" })
        EXPECT_TRUE(named(nodes, absent).isEmpty()) << absent << " does not show";
    press("Next");
    EXPECT_EQ(room.sectionsAhead, 1);
    press("Start check-in");
    EXPECT_EQ(room.toggles, 1);
    press("Leave check-in");
    EXPECT_EQ(room.checkinCloses, 1);
}

TEST_F(AccessibilityTest, TheSetupSheetIsReadAndAnsweredThroughItsButtons)
{
    session.state.recordingAgreementAccepted = false;
    ASSERT_NE(shell.openWindow(session), nullptr);
    QList<Node> nodes = tree();
    for (const char* text : { "Welcome to Corvane", "Both people agree to recording" })
        EXPECT_TRUE(has(nodes, "label", QString::fromUtf8(text))) << text;
    EXPECT_TRUE(has(nodes, "dialog", "Welcome to Corvane")) << "the sheet is named by its title";
    EXPECT_TRUE(named(nodes, "Sign in with Apple").isEmpty()) << "a card that does not show";
    press("Both people agree");
    EXPECT_TRUE(session.state.recordingAgreementAccepted);
    nodes = tree();
    EXPECT_TRUE(has(nodes, "label", "Your private Corvane account"));
    EXPECT_TRUE(named(nodes, "Both people agree").isEmpty());
    press("Sign in with Apple");
    EXPECT_EQ(session.signInStarts, 1);

    // A browser that could not be opened: the address is read and copied through the bus.
    EXPECT_TRUE(named(tree(), "Copy address").isEmpty()) << "no address yet";
    session.update([](auto& s) {
        s.isAppleAuthorizationActive = false;
        s.errorMessage = QStringLiteral("The browser could not be opened.");
        s.signInAddress = QStringLiteral("https://127.0.0.1:8443/dev/sign-in?request=5d2c");
    });
    nodes = tree();
    EXPECT_TRUE(has(nodes, "label", "The browser could not be opened."));
    EXPECT_EQ(named(nodes, "Sign-in address").size(), 1);
    press("Copy address");
    EXPECT_EQ(session.addressCopies, 1);
    EXPECT_EQ(named(tree(), "Copied").size(), 1) << "the button says it did";
    press("Close");
    EXPECT_EQ(session.cancellations, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.shows("setupSheet"); }, 60000));
}

// A long review is read to its end: every turn of its transcript is on the bus without anyone
// scrolling to it, and the review's buttons press as they click.
TEST_F(AccessibilityTest, EveryTurnOfALongReviewIsRead)
{
    ConversationHistoryEntry row = testing::storedRow('a', "Bills");
    history.entries()->replace({ row });
    const DerivedSessionResult review = testing::longReview('a', 200);
    const QList<SpeakerTurn>& turns = *review.transcript;
    ASSERT_NE(shell.openWindow(session), nullptr);
    press("History");
    shell.click("historyCard:" + testing::keyOf('a'));
    history.answerReview(review);
    // The bus reads every item made, which on a small machine under the sanitizers takes the
    // sheet and its 200 turns several seconds: the waits bound a hang, not the speed.
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("reviewDetail"); }, 60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !history.reviewSheet()->transcript()->hasMore(); }, 60000))
        << "the rest of the transcript comes without scrolling";

    const QList<Node> nodes = tree();
    EXPECT_TRUE(has(nodes, "label", "Conversation review"));
    // Each turn says who spoke.
    const auto read = [](const SpeakerTurn& turn) {
        return QStringLiteral("Person %1: ").arg(turn.speaker + 1) + turn.text;
    };
    EXPECT_TRUE(has(nodes, "label", read(turns.first())));
    EXPECT_TRUE(has(nodes, "label", read(turns.last()))) << "the last of 200 turns";
    press("Done");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.shows("reviewDetail"); }, 60000));
}

// The update command is reached through the menu bar, and its dialog is read and closed.
TEST_F(AccessibilityTest, TheUpdateDialogOpensFromTheMenuAndIsRead)
{
    ASSERT_NE(shell.openWindow(session, true), nullptr);
    // An entry's shortcut is its description.
    press("Corvane", "menu item");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.find("appMenu")->property("opened").toBool(); }, 60000));
    const QList<Node> menu = tree();
    EXPECT_EQ(named(menu, "Quit Corvane").value(0).description, "Ctrl+Q");
    EXPECT_TRUE(
        named(menu, QString::fromUtf8("Check for Updates\u2026")).value(0).states.contains("enabled"));
    press(QString::fromUtf8("Check for Updates\u2026"), "menu item");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("updateDialog"); }, 60000));
    // The feed's address answers nothing: the check ends quickly and says so.
    const QString unreachable = feedUnreachable();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.text("updateDialogMessage") == unreachable; }, 60000));
    const QList<Node> nodes = tree();
    EXPECT_TRUE(has(nodes, "dialog", "Corvane updates")) << "the dialog is named by its title";
    EXPECT_TRUE(has(nodes, "label", "Corvane updates"));
    EXPECT_TRUE(has(nodes, "label", unreachable));
    EXPECT_TRUE(named(nodes, "Open Download Page").isEmpty()) << "nothing newer to open";
    press("OK");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.shows("updateDialog"); }, 60000));
}

} // namespace
} // namespace lumora
