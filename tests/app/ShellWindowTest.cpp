#include "FakeShell.hpp"
#include "WindowHarness.hpp"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

namespace lumora {
namespace {

// The real window from the shell's QML module over a fake session.
class ShellWindowTest : public ::testing::Test, protected testing::FakeShellWindow {
protected:
    QQuickWindow* open(bool updatesConfigured = false)
    {
        return shell.openWindow(session, updatesConfigured);
    }
};

TEST_F(ShellWindowTest, WindowIsCorvaneWithItsMinimumSize)
{
    QQuickWindow* window = open();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->title(), "Corvane");
    EXPECT_EQ(window->minimumSize(), QSize(920, 680));
}

TEST_F(ShellWindowTest, ControlDigitsSwitchSectionsFromAnySection)
{
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(section(), 0);
    EXPECT_FALSE(shell.shows("headerBar")) << "the room draws its own header";

    struct Step {
        Qt::Key key;
        int section;
    };
    for (const Step step : { Step { Qt::Key_2, 1 }, Step { Qt::Key_3, 2 }, Step { Qt::Key_1, 0 },
             Step { Qt::Key_3, 2 }, Step { Qt::Key_2, 1 } }) {
        shell.press(step.key, Qt::ControlModifier);
        EXPECT_EQ(section(), step.section);
        EXPECT_EQ(shell.shows("headerBar"), step.section != 0);
    }
    shell.content()->setProperty("section", 3);
    shell.press(Qt::Key_1, Qt::ControlModifier);
    EXPECT_EQ(section(), 0) << "from Account too";
    shell.press(Qt::Key_4, Qt::ControlModifier);
    EXPECT_EQ(section(), 0) << "there is no shortcut for Account";
}

TEST_F(ShellWindowTest, UpdateCommandIsEnabledOnlyWhenUpdatesAreConfigured)
{
    for (const bool configured : { false, true }) {
        ASSERT_NE(open(configured), nullptr);
        QObject* action = shell.find("checkForUpdates");
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->property("text").toString(), QString::fromUtf8("Check for Updates\u2026"));
        EXPECT_EQ(action->property("enabled").toBool(), configured);
    }
}

TEST_F(ShellWindowTest, HeaderBarOnEachSection)
{
    ASSERT_NE(open(), nullptr);
    const char* names[] = { "conversation", "history", "people", "account" };
    for (int section = 0; section < 4; ++section) {
        shell.content()->setProperty("section", section);
        shell.screenshot(QStringLiteral("header-%1").arg(QLatin1String(names[section])));
    }
    // Becoming active again refreshes the history from the server.
    EXPECT_TRUE(session.refreshes.isEmpty() || session.refreshes.contains(true));
}

TEST_F(ShellWindowTest, SetupSheetWalksThroughItsCards)
{
    session.state.recordingAgreementAccepted = false;
    ASSERT_NE(open(), nullptr);
    EXPECT_TRUE(shell.shows("setupSheet")) << "no agreement yet: the sheet opens at launch";
    auto cardTitle = [&] { return shell.find("setupCard")->property("title").toString(); };

    EXPECT_EQ(cardTitle(), "Both people agree to recording");
    shell.screenshot("setup-consent");
    shell.click("agreeButton");
    EXPECT_EQ(cardTitle(), "Your private Corvane account");
    EXPECT_TRUE(shell.shows("setupSheet")) << "agreeing leaves the sheet open";
    shell.screenshot("setup-sign-in");

    shell.click("signInButton");
    EXPECT_EQ(session.signInStarts, 1);
    EXPECT_FALSE(shell.find("signInButton")->property("enabled").toBool())
        << "an open attempt disables the button";
    session.update([](auto& s) {
        s.errorMessage = "Sign in with Apple timed out. Try again.";
        s.isAppleAuthorizationActive = false;
    });
    EXPECT_TRUE(shell.find("signInButton")->property("enabled").toBool());
    EXPECT_TRUE(shell.shows("setupError"));
    shell.screenshot("setup-sign-in-error");
    session.update([](auto& s) { s.errorMessage.clear(); });

    session.update([](auto& s) { s.isSignedIn = true; });
    EXPECT_EQ(cardTitle(), "Ready when you both are");
    shell.screenshot("setup-ready");

    // Escape closes like Close, ending an open sign-in attempt first.
    session.update([](auto& s) { s.isAppleAuthorizationActive = true; });
    shell.press(Qt::Key_Escape);
    EXPECT_EQ(session.cancellations, 1);
    EXPECT_FALSE(shell.shows("setupSheet"));

    // A build without the control plane's address says so, whatever else holds.
    session.state.recordingAgreementAccepted = false;
    session.state.configurationAvailable = false;
    ASSERT_NE(open(), nullptr);
    shell.click("agreeButton");
    EXPECT_EQ(cardTitle(), "Release setup required");
    shell.screenshot("setup-release");
}

TEST_F(ShellWindowTest, MigrationOfferAsksOnceAndWaitsForTheAnswer)
{
    session.state.needsMigrationOffer = true;
    for (const int count : { 1, 2 }) {
        session.state.conversationsAwaitingMigrationOffer = count;
        ASSERT_NE(open(), nullptr);
        ASSERT_TRUE(shell.shows("migrationSheet"));
        const QString introduction = shell.text("migrationIntroduction");
        EXPECT_EQ(introduction.startsWith(count == 1 ? "One conversation" : "2 conversations"), true)
            << introduction.toStdString();
        shell.screenshot(QStringLiteral("migration-offer-%1").arg(count));

        if (count == 2) {
            shell.click("declineMigrationButton");
            EXPECT_EQ(session.migrationAnswers, QList<bool> { false });
            EXPECT_FALSE(shell.find("acceptMigrationButton")->property("enabled").toBool());
            EXPECT_TRUE(shell.shows("migrationProgress"));
            shell.screenshot("migration-offer-working");
            emit session.migrationAnswered();
            EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.shows("migrationSheet"); }, 5000));
        }
    }
}

TEST_F(ShellWindowTest, HistoryPageRefreshesFromTheServerEachTimeItIsShown)
{
    ASSERT_NE(open(), nullptr);
    EXPECT_TRUE(history.refreshes.isEmpty()) << "not shown yet";
    shell.press(Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(history.refreshes, QList<bool> { true });
    EXPECT_EQ(shell.find("historyPage")->property("model").value<QObject*>(), &history);
    shell.press(Qt::Key_1, Qt::ControlModifier);
    shell.press(Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(history.refreshes, QList<bool>({ true, true }));
}

TEST(PeopleView, OpensAloneOverItsModel)
{
    testing::FakePeopleModel people;
    testing::WindowHarness page;
    QQuickItem* view = page.openComponent(
        "Lumora.People", "PeopleView", { { "model", QVariant::fromValue<QObject*>(&people) } });
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->property("model").value<QObject*>(), &people);
    EXPECT_EQ(page.text("pageTitle"), "People");
    EXPECT_EQ(view->size(), QSizeF(testing::WindowHarness::desktop));
    page.screenshot("people-page");
}

} // namespace
} // namespace lumora
