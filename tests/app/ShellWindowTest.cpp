#include "AccountSession.hpp"
#include "FakeShellSession.hpp"
#include "FontRegistrar.hpp"
#include "ShellWindowHost.hpp"
#include "SignedFeedServer.hpp"
#include "UpdateFeedSigner.hpp"
#include "ViewModelFixture.hpp"

#include <QQuickItem>
#include <QQuickWindow>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>
#include <functional>
#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Lumora_ThemePlugin)
Q_IMPORT_QML_PLUGIN(Lumora_ShellPlugin)

namespace lumora {
namespace {

QStringList capturedWarnings;

void captureWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        capturedWarnings.append(message);
}

// The real window from the shell's QML module over a fake session. Any QML warning while a
// test runs fails it.
class ShellWindowTest : public ::testing::Test, protected testing::ShellWindowHost {
protected:
    static void SetUpTestSuite() { FontRegistrar::registerFonts(QStringLiteral(LUMORA_FONT_FOLDER)); }

    void SetUp() override
    {
        // The account page reads a real view model's account: a signed-out one here.
        m_viewModel = m_home.viewModel();
        m_account = std::make_unique<AccountSession>(*m_viewModel, PairingTexts(QLocale(), QTimeZone::utc()));
        session.account = m_account.get();
        capturedWarnings.clear();
        m_previousHandler = qInstallMessageHandler(&captureWarnings);
    }

    void TearDown() override
    {
        close();
        qInstallMessageHandler(m_previousHandler);
        EXPECT_TRUE(capturedWarnings.isEmpty()) << capturedWarnings.join("\n").toStdString();
    }

    QQuickWindow* open(bool updatesConfigured = false)
    {
        return ShellWindowHost::open(&session, updatesConfigured);
    }
    QQuickWindow* open(SecureUpdateController& updates) { return ShellWindowHost::open(&session, updates); }

    testing::FakeShellSession session;

private:
    testing::ViewModelHome m_home;
    std::unique_ptr<SessionViewModel> m_viewModel;
    std::unique_ptr<AccountSession> m_account;
    QtMessageHandler m_previousHandler = nullptr;
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
    QQuickWindow* window = open();
    ASSERT_NE(window, nullptr);
    QObject* content = find(window, "contentView");
    ASSERT_NE(content, nullptr);
    auto* header = qobject_cast<QQuickItem*>(find(window, "headerBar"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(content->property("section").toInt(), 0);
    EXPECT_FALSE(header->isVisible()) << "the room draws its own header";

    struct Step {
        Qt::Key key;
        int section;
    };
    for (const Step step : { Step { Qt::Key_2, 1 }, Step { Qt::Key_3, 2 }, Step { Qt::Key_1, 0 },
             Step { Qt::Key_3, 2 }, Step { Qt::Key_2, 1 } }) {
        QTest::keyClick(window, step.key, Qt::ControlModifier);
        EXPECT_EQ(content->property("section").toInt(), step.section);
        EXPECT_EQ(header->isVisible(), step.section != 0);
    }
    content->setProperty("section", 3);
    QTest::keyClick(window, Qt::Key_1, Qt::ControlModifier);
    EXPECT_EQ(content->property("section").toInt(), 0) << "from Account too";
    QTest::keyClick(window, Qt::Key_4, Qt::ControlModifier);
    EXPECT_EQ(content->property("section").toInt(), 0) << "there is no shortcut for Account";
}

TEST_F(ShellWindowTest, UpdateCommandIsEnabledOnlyWhenUpdatesAreConfigured)
{
    for (const bool configured : { false, true }) {
        QQuickWindow* window = open(configured);
        ASSERT_NE(window, nullptr);
        QObject* action = find(window, "checkForUpdates");
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->property("text").toString(), QString::fromUtf8("Check for Updates\u2026"));
        EXPECT_EQ(action->property("enabled").toBool(), configured);
    }
}

// The menus in the theme: each command's shortcut at its end, and the update check dimmed while
// it cannot be used.
TEST_F(ShellWindowTest, MenusShowTheirShortcutsAndDimWhatCannotBeUsed)
{
    QQuickWindow* window = open();
    ASSERT_NE(window, nullptr);
    struct Row {
        int index;
        const char* menu;
        QStringList entries; // title, then the shortcut shown, "-" for a dimmed entry
    };
    const Row rows[] = {
        { 0, "appMenu", { u"Check for Updates\u2026 -"_qs, "Quit Corvane Ctrl+Q" } },
        { 1, "viewMenu", { "Conversation Ctrl+1", "History Ctrl+2", "People Ctrl+3" } },
    };
    QObject* bar = find(window, "menuBar");
    for (const Row& row : rows) {
        QQuickItem* title = nullptr;
        QMetaObject::invokeMethod(bar, "itemAt", Q_RETURN_ARG(QQuickItem*, title), Q_ARG(int, row.index));
        ASSERT_NE(title, nullptr);
        QMetaObject::invokeMethod(title, "triggered"); // as a click on the menu's title does
        QObject* menu = find(window, row.menu);
        ASSERT_TRUE(QTest::qWaitFor([&] { return menu->property("opened").toBool(); }, 5000)) << row.menu;
        QStringList entries;
        for (int index = 0; index < menu->property("count").toInt(); ++index) {
            QQuickItem* entry = nullptr;
            QMetaObject::invokeMethod(menu, "itemAt", Q_RETURN_ARG(QQuickItem*, entry), Q_ARG(int, index));
            if (!entry->property("text").isValid())
                continue; // the rule between groups
            const auto* label = entry->property("contentItem").value<QQuickItem*>();
            const QString shortcut = entry->findChild<QObject*>("shortcut")->property("text").toString();
            const bool dimmed = !entry->isEnabled() && label->opacity() < 0.5;
            entries.append(entry->property("text").toString() + u' ' + (dimmed ? u"-"_qs : shortcut));
        }
        EXPECT_EQ(entries, row.entries) << row.menu;
        screenshots(window, QStringLiteral("menu-%1").arg(QLatin1String(row.menu)));
        QTest::keyClick(window, Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !menu->property("visible").toBool(); }, 5000));
    }
}

// A check the user asks for says what it found, on the updates card and, asked from the menu,
// in a small dialog; the check at launch only announces a newer release. The download page
// opens only from its own button.
TEST_F(ShellWindowTest, UpdateChecksSayWhatTheyFoundAndOnlyTheUserOpensThePage)
{
    const testing::UpdateFeedSigner signer;
    const QString page = "https://downloads.example.org/corvane/";
    testing::SignedFeedServer feed(200, signer.feed("0.2.0", page, "2026-03-01T08:00:00Z"));
    SecureUpdateController updates(feed.feedURL(), signer.publicKeyBase64(), "0.1.0");
    QList<QUrl> opened;
    updates.setPageOpener([&](const QUrl& url) { opened.append(url); });
    QQuickWindow* window = open(updates);
    const auto windowFirst = qScopeGuard([this] { close(); }); // the window goes before what it reads
    ASSERT_NE(window, nullptr);
    find(window, "contentView")->setProperty("section", 3);
    const auto text = [&](const char* name) { return find(window, name)->property("text").toString(); };
    const auto shows = [&](const char* name) { return find(window, name)->property("visible").toBool(); };
    const auto finished = [&](const std::function<void()>& begin) {
        QSignalSpy checked(&updates, &SecureUpdateController::checked);
        begin();
        return checked.wait(10000);
    };

    EXPECT_FALSE(shows("updateMessage")) << "nothing to say before a check";
    ASSERT_TRUE(finished([&] { updates.start(); }));
    EXPECT_TRUE(opened.isEmpty()) << "the check at launch opens nothing";
    EXPECT_EQ(text("updateMessage"), "Corvane 0.2.0 is available.");
    EXPECT_EQ(text("checkForUpdates"), u"Update to Corvane 0.2.0\u2026"_qs);
    screenshots(window, "updates-announced");
    QMetaObject::invokeMethod(find(window, "openDownloadPageButton"), "clicked");
    EXPECT_EQ(opened, QList<QUrl> { QUrl(page) });

    QByteArray altered = testing::UpdateFeedSigner::release("0.9.0", page, "2026-06-01T08:00:00Z");
    const QByteArray signature = signer.sign(altered);
    altered.replace("0.9.0", "9.9.0");
    const QString unverified
        = "The update feed could not be verified, so it was ignored. Corvane 0.3.0 is still available.";
    struct Row {
        const char* name;
        int status;
        QByteArray feed;
        QString message;
        bool offersDownload;
    };
    const Row rows[] = {
        { "newer", 200, signer.feed("0.3.0", page, "2026-04-01T08:00:00Z"), "Corvane 0.3.0 is available.",
            true },
        { "replayed", 200, signer.feed("0.1.0", page, "2026-02-01T08:00:00Z"),
            "The update feed is older than one Corvane has already seen, so it was ignored. Corvane 0.3.0 is "
            "still "
            "available.",
            true },
        { "tampered", 200, testing::UpdateFeedSigner::envelope(altered, signature), unverified, true },
        { "malformed", 200, "<rss/>", unverified, true },
        { "unreachable", 503, "{}",
            "Corvane could not reach the update feed. Try again later. Corvane 0.3.0 is still available.",
            true },
        { "newest", 200, signer.feed("0.1.0", page, "2026-05-01T08:00:00Z"),
            "Corvane 0.1.0 is the newest version.", false },
    };
    QObject* dialog = popupItem(window, "updateDialog");
    ASSERT_NE(dialog, nullptr);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        feed.server->script(row.status, row.feed);
        ASSERT_TRUE(
            finished([&] { QMetaObject::invokeMethod(find(window, "checkForUpdatesButton"), "clicked"); }));
        EXPECT_EQ(text("updateMessage"), row.message) << "on the card";
        EXPECT_EQ(shows("openDownloadPageButton"), row.offersDownload);

        ASSERT_TRUE(finished([&] { QMetaObject::invokeMethod(find(window, "checkForUpdates"), "trigger"); }));
        EXPECT_TRUE(dialog->property("visible").toBool());
        EXPECT_EQ(text("updateDialogMessage"), row.message) << "in the dialog";
        EXPECT_EQ(shows("updateDialogDownload"), row.offersDownload);
        screenshots(window, QStringLiteral("updates-dialog-%1").arg(QLatin1String(row.name)));
        QMetaObject::invokeMethod(find(window, "updateDialogClose"), "clicked");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->property("visible").toBool(); }, 5000));
    }
    EXPECT_EQ(opened.size(), 1) << "no check opened the page";
}

TEST_F(ShellWindowTest, HeaderBarOnEachSection)
{
    QQuickWindow* window = open();
    ASSERT_NE(window, nullptr);
    QObject* content = find(window, "contentView");
    const char* names[] = { "conversation", "history", "people", "account" };
    for (int section = 0; section < 4; ++section) {
        content->setProperty("section", section);
        screenshot(window, QStringLiteral("header-%1").arg(QLatin1String(names[section])));
    }
}

// Coming back to the application from another one refreshes the history from the server;
// leaving it does not. The desktop's activation changes reach the window as the application's
// state changes, sent here as the platform sends them.
TEST_F(ShellWindowTest, ReactivationRefreshesTheHistoryFromTheServer)
{
    QQuickWindow* window = open();
    ASSERT_NE(window, nullptr);
    session.refreshes.clear();
    for (int round = 1; round <= 2; ++round) {
        emit qApp->applicationStateChanged(Qt::ApplicationInactive);
        QCoreApplication::processEvents();
        EXPECT_EQ(session.refreshes.size(), round - 1) << "leaving refreshes nothing";
        emit qApp->applicationStateChanged(Qt::ApplicationActive);
        EXPECT_TRUE(QTest::qWaitFor([&] { return session.refreshes.size() == round; }, 5000)) << round;
    }
    EXPECT_EQ(session.refreshes, (QList<bool> { true, true })) << "each time, from the server";
}

TEST_F(ShellWindowTest, SetupSheetWalksThroughItsCards)
{
    session.recordingAgreementAccepted = false;
    QQuickWindow* window = open();
    ASSERT_NE(window, nullptr);
    QObject* sheet = popupItem(window, "setupSheet");
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->property("visible").toBool()) << "no agreement yet: the sheet opens at launch";
    auto cardTitle = [&] { return find(window, "setupCard")->property("title").toString(); };

    EXPECT_EQ(cardTitle(), "Both people agree to recording");
    screenshot(window, "setup-consent");
    QMetaObject::invokeMethod(find(window, "agreeButton"), "clicked");
    EXPECT_EQ(cardTitle(), "Your private Corvane account");
    EXPECT_TRUE(sheet->property("visible").toBool()) << "agreeing leaves the sheet open";
    screenshot(window, "setup-sign-in");

    QObject* signIn = find(window, "signInButton");
    QMetaObject::invokeMethod(signIn, "clicked");
    EXPECT_EQ(session.signInStarts, 1);
    EXPECT_FALSE(signIn->property("enabled").toBool()) << "an open attempt disables the button";
    session.set("errorMessage", "Sign in with Apple timed out. Try again.");
    session.set("isAppleAuthorizationActive", QVariant(false));
    EXPECT_TRUE(signIn->property("enabled").toBool());
    EXPECT_TRUE(find(window, "setupError")->property("visible").toBool());
    screenshot(window, "setup-sign-in-error");
    session.set("errorMessage", QString());

    session.set("isSignedIn", QVariant(true));
    EXPECT_EQ(cardTitle(), "Ready when you both are");
    screenshot(window, "setup-ready");
    session.set("configurationAvailable", QVariant(false));
    EXPECT_EQ(cardTitle(), "Release setup required");
    screenshot(window, "setup-release");

    // Escape closes like Close, ending an open sign-in attempt first.
    session.set("isAppleAuthorizationActive", QVariant(true));
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_EQ(session.cancellations, 1);
    EXPECT_FALSE(sheet->property("visible").toBool());
}

TEST_F(ShellWindowTest, MigrationOfferAsksOnceAndWaitsForTheAnswer)
{
    session.needsMigrationOffer = true;
    for (const qint64 count : { 1, 2 }) {
        session.conversationsAwaitingMigrationOffer = count;
        QQuickWindow* window = open();
        ASSERT_NE(window, nullptr);
        QObject* sheet = popupItem(window, "migrationSheet");
        ASSERT_NE(sheet, nullptr);
        ASSERT_TRUE(sheet->property("visible").toBool());
        const QString introduction = find(window, "migrationIntroduction")->property("text").toString();
        EXPECT_EQ(introduction.startsWith(count == 1 ? "One conversation" : "2 conversations"), true)
            << introduction.toStdString();
        screenshot(window, QStringLiteral("migration-offer-%1").arg(count));

        if (count == 2) {
            QMetaObject::invokeMethod(find(window, "declineMigrationButton"), "clicked");
            EXPECT_EQ(session.migrationAnswers, QList<bool> { false });
            EXPECT_FALSE(find(window, "acceptMigrationButton")->property("enabled").toBool());
            EXPECT_TRUE(find(window, "migrationProgress")->property("visible").toBool());
            screenshot(window, "migration-offer-working");
            emit session.migrationAnswered();
            QTest::qWait(50);
            EXPECT_FALSE(sheet->property("visible").toBool());
        }
    }
}

} // namespace
} // namespace lumora
