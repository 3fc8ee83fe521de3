#include "Contrast.hpp"
#include "FakePeopleModel.hpp"
#include "FakeShell.hpp"
#include "HistoryRecords.hpp"
#include "Sections.hpp"
#include "SignedFeedServer.hpp"
#include "SpeedometerGauge.hpp"
#include "SpeedometerGeometry.hpp"
#include "ThemePalette.hpp"
#include "UpdateFeedSigner.hpp"
#include "WindowHarness.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QQuickItem>
#include <QQuickWindow>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <functional>
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
    QQuickWindow* open(UpdateChecker& updates) { return shell.openWindow(session, updates); }
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
}

// The window opens on the room and makes nothing else: the header bar, the other pages, the
// sheets' content, the check-in room, the hidden message and the guidance overlays are loaded
// the first time they show, and still work: the header's tabs switch sections, History stays
// from then on and leads back to the room, Account goes when another section is shown.
TEST_F(ShellWindowTest, OpensWithOnlyWhatItShowsAndLoadsTheRestWhenShown)
{
    ASSERT_NE(open(), nullptr);
    const auto loaded
        = [&](const char* name) { return shell.find(name)->property("item").value<QObject*>(); };
    for (const char* name : { "headerBar", "accountPage", "hiddenMessage", "breakOverlay", "cycleOverlay",
             "floorOverlay", "checkinRoom" })
        EXPECT_EQ(loaded(name), nullptr) << name;
    for (const char* name : { "historyPage", "peoplePage", "setupFlow", "migrationOffer" })
        EXPECT_FALSE(shell.has(name)) << name;

    shell.content()->setProperty("section", 1);
    ASSERT_TRUE(shell.shows("historyPage"));
    ASSERT_TRUE(shell.shows("headerBar"));
    // Drawn once, as a person would see it before pressing a tab.
    shell.screenshot("header-first-shown");
    shell.click("tabAccount");
    EXPECT_EQ(section(), 3);
    EXPECT_NE(loaded("accountPage"), nullptr);
    shell.click("tabHistory");
    EXPECT_EQ(section(), 1);
    EXPECT_EQ(loaded("accountPage"), nullptr) << "Account goes";
    shell.click("startConversationButton");
    EXPECT_EQ(section(), 0);
    EXPECT_TRUE(shell.has("historyPage")) << "History stays";
}

// Coming back to the application from another one refreshes the history from the server;
// leaving it does not. The desktop's activation changes reach the window as the application's
// state changes, sent here as the platform sends them.
// "Theory" from the room's header and from the header bar opens the guide in the browser; when
// no browser can, the window says so and offers the address to copy, as the sign-in does.
TEST_F(ShellWindowTest, TheoryWithoutABrowserOffersItsAddress)
{
    ASSERT_NE(open(), nullptr);
    const QUrl theory(QStringLiteral("https://lumora.app/theory/"));
    shell.click("theoryButton");
    EXPECT_EQ(session.pagesOpened, QList<QUrl> { theory });
    EXPECT_FALSE(shell.shows("unopenedPageDialog")) << "a browser showed it";

    session.browserOpens = false;
    for (const int from : { int(Sections::Conversation), int(Sections::History) }) {
        SCOPED_TRACE(from);
        shell.content()->setProperty("section", from);
        if (from == Sections::Conversation) {
            shell.click("theoryButton");
        } else {
            auto* bar = qobject_cast<QQuickItem*>(shell.find("headerBar"));
            auto* button = bar->findChild<QQuickItem*>("theoryButton");
            ASSERT_NE(button, nullptr);
            ASSERT_TRUE(QTest::qWaitFor([&] { return button->isVisible() && button->width() > 0; }, 60000));
            shell.screenshot("theory-history-header");
            QTest::mouseClick(shell.window(), Qt::LeftButton, {},
                button->mapToScene(button->boundingRect().center()).toPoint());
        }
        EXPECT_EQ(session.pagesOpened.size(), from == Sections::Conversation ? 2 : 3);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("unopenedPageDialog"); }, 60000));
        EXPECT_EQ(shell.text("unopenedPageDialogAddress"), theory.toString());
        shell.click("unopenedPageDialogCopy");
        EXPECT_EQ(shell.text("unopenedPageDialogCopy"), "Copied");
        shell.screenshot(QStringLiteral("theory-address-%1").arg(from));
        shell.click("unopenedPageDialogClose");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("unopenedPageDialog"); }, 60000));
        EXPECT_TRUE(session.state.unopenedPage.isEmpty());
    }
}

TEST_F(ShellWindowTest, ReactivationRefreshesTheHistoryFromTheServer)
{
    ASSERT_NE(open(), nullptr);
    session.refreshes.clear();
    for (int round = 1; round <= 2; ++round) {
        emit qApp->applicationStateChanged(Qt::ApplicationInactive);
        QCoreApplication::processEvents();
        EXPECT_EQ(session.refreshes.size(), round - 1) << "leaving refreshes nothing";
        emit qApp->applicationStateChanged(Qt::ApplicationActive);
        EXPECT_TRUE(QTest::qWaitFor([&] { return session.refreshes.size() == round; }, 60000)) << round;
    }
    EXPECT_EQ(session.refreshes, (QList<bool> { true, true })) << "each time, from the server";
}

// The menus in the theme: each command's shortcut at its end, and the update check dimmed while
// it cannot be used.
TEST_F(ShellWindowTest, MenusShowTheirShortcutsAndDimWhatCannotBeUsed)
{
    ASSERT_NE(open(), nullptr);
    struct Row {
        int index;
        const char* menu;
        QStringList entries; // title, then the shortcut shown, "-" for a dimmed entry
    };
    const Row rows[] = {
        { 0, "appMenu", { u"Check for Updates\u2026 -"_qs, "Quit Corvane Ctrl+Q" } },
        { 1, "viewMenu", { "Conversation Ctrl+1", "History Ctrl+2", "People Ctrl+3" } },
    };
    for (const Row& row : rows) {
        QQuickItem* title = nullptr;
        QMetaObject::invokeMethod(
            shell.find("menuBar"), "itemAt", Q_RETURN_ARG(QQuickItem*, title), Q_ARG(int, row.index));
        ASSERT_NE(title, nullptr);
        QMetaObject::invokeMethod(title, "triggered"); // as a click on the menu's title does
        QObject* menu = shell.find(row.menu);
        ASSERT_TRUE(QTest::qWaitFor([&] { return menu->property("opened").toBool(); }, 60000)) << row.menu;
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
        shell.screenshots(QStringLiteral("menu-%1").arg(QLatin1String(row.menu)));
        shell.press(Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !menu->property("visible").toBool(); }, 60000));
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
    const auto windowFirst = qScopeGuard([this] { shell.close(); }); // it goes before what it reads
    ASSERT_NE(open(updates), nullptr);
    shell.content()->setProperty("section", 3);
    const auto finished = [&](const std::function<void()>& begin) {
        QSignalSpy checked(&updates, &SecureUpdateController::checked);
        begin();
        return checked.wait(60000);
    };

    EXPECT_FALSE(shell.shows("updateMessage")) << "nothing to say before a check";
    ASSERT_TRUE(finished([&] { updates.start(); }));
    EXPECT_TRUE(opened.isEmpty()) << "the check at launch opens nothing";
    EXPECT_EQ(shell.text("updateMessage"), "Corvane 0.2.0 is available.");
    EXPECT_EQ(shell.text("checkForUpdates"), u"Update to Corvane 0.2.0\u2026"_qs);
    shell.screenshots("updates-announced", "pageTitle");
    shell.click("openDownloadPageButton");
    EXPECT_EQ(opened, QList<QUrl> { QUrl(page) });

    const QString stillAvailable = " Corvane 0.3.0 is still available.";
    const QString unverified = "The update feed could not be verified, so it was ignored." + stillAvailable;
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
            "The update feed is older than one Corvane has already seen, so it was ignored." + stillAvailable,
            true },
        { "tampered", 200, signer.tamperedFeed("0.9.0", page, "2026-06-01T08:00:00Z"), unverified, true },
        { "malformed", 200, "<rss/>", unverified, true },
        { "unreachable", 503, "{}",
            "Corvane could not reach the update feed. Try again later." + stillAvailable, true },
        { "newest", 200, signer.feed("0.1.0", page, "2026-05-01T08:00:00Z"),
            "Corvane 0.1.0 is the newest version.", false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        feed.server->script(row.status, row.feed);
        ASSERT_TRUE(finished([&] { shell.click("checkForUpdatesButton"); }));
        EXPECT_EQ(shell.text("updateMessage"), row.message) << "on the card";
        EXPECT_EQ(shell.shows("openDownloadPageButton"), row.offersDownload);

        ASSERT_TRUE(finished([&] { QMetaObject::invokeMethod(shell.find("checkForUpdates"), "trigger"); }));
        EXPECT_TRUE(shell.shows("updateDialog"));
        EXPECT_EQ(shell.text("updateDialogMessage"), row.message) << "in the dialog";
        EXPECT_EQ(shell.shows("updateDialogDownload"), row.offersDownload);
        shell.screenshots(QStringLiteral("updates-dialog-%1").arg(QLatin1String(row.name)), "pageTitle");
        shell.click("updateDialogClose");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.shows("updateDialog"); }, 60000));
    }
    EXPECT_EQ(opened.size(), 1) << "no check opened the page";
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

// The setup sheet keeps its padding of 32 round its column and its corners round, grows with its
// content while the window has room and scrolls only when it has none. A card's own rows stand
// 16 apart, and the sign-in button's label sits in the middle of its 208-point frame.
TEST_F(ShellWindowTest, SetupSheetFitsItsContentWithItsPadding)
{
    session.state.recordingAgreementAccepted = false;
    QQuickWindow* window = open();
    ASSERT_NE(window, nullptr);
    const auto item = [&](const char* name) { return qobject_cast<QQuickItem*>(shell.find(name)); };
    QQuickItem* flow = item("setupFlow");
    QQuickItem* column = item("setupColumn");
    QQuickItem* scroll = item("setupScroll");
    QObject* sheet = shell.find("setupSheet");
    const auto padded = [&] {
        const QRectF area = column->mapRectToItem(flow, column->boundingRect());
        return area.top() >= 31.5 && flow->height() - area.bottom() >= 31.5;
    };
    const auto gap = [&](const char* upper, const char* lower) {
        return item(lower)->mapToItem(column, QPointF()).y()
            - item(upper)->mapToItem(column, QPointF(0, item(upper)->height())).y();
    };
    const QString longMessage = QStringLiteral("The service returned an invalid response. ").repeated(8);
    struct Row {
        const char* name;
        std::function<void(testing::FakeShellSession::State&)> change;
    };
    const Row rows[] = {
        { "consent", [](auto&) {} },
        { "consent with an error", [&](auto& s) { s.errorMessage = longMessage; } },
        { "sign-in", [](auto& s) { s.recordingAgreementAccepted = true, s.errorMessage.clear(); } },
        { "sign-in with the address to copy",
            [](auto& s) {
                s.errorMessage = SessionViewModel::browserNotOpenedMessage();
                s.signInAddress
                    = "https://127.0.0.1:8443/dev/sign-in?request=5d2c6f0e-8a57-4d3b-9f1e-0c6a1b2d3e4f";
            } },
        { "ready", [](auto& s) { s.isSignedIn = true, s.errorMessage.clear(), s.signInAddress.clear(); } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        session.update(row.change);
        EXPECT_TRUE(QTest::qWaitFor(padded, 60000));
        EXPECT_FALSE(scroll->property("interactive").toBool()) << "the window has the room";
        EXPECT_GE(sheet->property("height").toReal(), 560);
        if (QByteArray(row.name).startsWith("consent")) {
            EXPECT_EQ(gap("setupCard", "agreeButton"), 16);
        }
        if (QByteArray(row.name) == "sign-in") {
            EXPECT_EQ(gap("setupCard", "signInButton"), 16);
            QQuickItem* button = item("signInButton");
            auto* label = button->property("contentItem").value<QQuickItem*>();
            EXPECT_EQ(label->width(), 208);
            const QQuickItem* words = label->childItems().value(0);
            EXPECT_NEAR(words->mapToScene(QPointF(words->width() / 2, 0)).x(),
                button->mapToScene(QPointF(button->width() / 2, 0)).x(), 1)
                << "the label in the middle";
        }
        shell.screenshots(
            QStringLiteral("setup-fit-%1").arg(QString::fromLatin1(row.name).replace(u' ', u'-')));
    }

    // Round corners: the veil shows at the corner, not the sheet's background.
    session.update([&](auto& s) { s.isSignedIn = false, s.errorMessage = longMessage; });
    const QImage frame = window->grabWindow();
    const QPoint corner(sheet->property("x").toInt(), sheet->property("y").toInt());
    const int dpr = int(window->devicePixelRatio());
    EXPECT_GT(QColor(frame.pixel((corner + QPoint(40, 40)) * dpr)).lightness()
            - QColor(frame.pixel((corner + QPoint(1, 1)) * dpr)).lightness(),
        20);

    // Under the veil the room dims alike, its navy too: the hub of a corner's dial, navy on
    // ivory, is no longer navy.
    auto* dial = qobject_cast<QQuickItem*>(shell.find("leftCorner"))->findChild<QQuickItem*>("dial");
    ASSERT_NE(dial, nullptr);
    const double margin = SpeedometerGauge::strokeMargin();
    const QPointF hub = dial->mapToScene(SpeedometerGeometry::centre(
        QRectF(0, 0, dial->width(), dial->height()).adjusted(margin, margin, -margin, -margin)));
    EXPECT_GT(QColor(frame.pixel((hub * dpr).toPoint())).lightness() - ThemePalette::navy().lightness(), 20);

    // A window too short for a long message: the column scrolls inside the kept padding. (The
    // hint under the sign-in button gives way to the message.)
    session.update([&](auto& s) { s.errorMessage = longMessage.repeated(2); });
    window->resize(920, 680);
    EXPECT_TRUE(QTest::qWaitFor([&] { return scroll->property("interactive").toBool(); }, 60000));
    EXPECT_LE(sheet->property("height").toReal(), 680 - 48 + 0.5);
    EXPECT_EQ(column->mapToItem(flow, QPointF()).y(), 32) << "scrolled to the top";
    scroll->setProperty("contentY", scroll->property("contentHeight").toReal() - scroll->height());
    EXPECT_EQ(flow->height() - column->mapToItem(flow, QPointF(0, column->height())).y(), 32)
        << "scrolled to the end";
    shell.screenshot("setup-fit-scrolls-920");
}

// The sheet's buttons are the theme's, and the keyboard's ring round each is drawn whole: on the
// left of "Both people agree" at the column's edge too, and round "Close", which shows the pointer.
TEST_F(ShellWindowTest, SetupSheetButtonsShowTheKeyboardAndThePointerWhole)
{
    session.state.recordingAgreementAccepted = false;
    QQuickWindow* window = open();
    ASSERT_NE(window, nullptr);
    for (const char* name : { "agreeButton", "setupCloseButton" }) {
        auto* button = qobject_cast<QQuickItem*>(shell.find(name));
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->inherits("QQuickAbstractButton") && button->findChild<QQuickItem*>("focusRing"))
            << name << " is a themed button";
        button->forceActiveFocus(Qt::TabFocusReason);
        shell.waitForFrame();
        const QImage image = window->grabWindow();
        // The ring's left stroke lies 2 to 4 pixels left of the button, in the focus colour.
        const QPointF left = button->mapToScene(QPointF(-3, button->height() / 2));
        EXPECT_EQ(image.pixelColor(left.toPoint()), ThemePalette::focusRing()) << name;
        shell.screenshot(QStringLiteral("setup-focus-%1").arg(QString::fromLatin1(name)));
    }
    auto* close = qobject_cast<QQuickItem*>(shell.find("setupCloseButton"));
    const QImage away = window->grabWindow();
    QTest::mouseMove(window, close->mapToScene(QPointF(close->width() / 2, close->height() / 2)).toPoint());
    ASSERT_TRUE(QTest::qWaitFor([&] { return close->property("hovered").toBool(); }, 60000));
    shell.waitForFrame();
    const QPoint inside = close->mapToScene(QPointF(6, close->height() / 2)).toPoint();
    EXPECT_GE(testing::contrast(away.pixelColor(inside), window->grabWindow().pixelColor(inside)), 1.2);
    shell.screenshot("setup-close-hovered");
}

// The offer shows each conversation it covers, chosen until the user clears it, and the answer
// takes the chosen ones; a long list scrolls inside a sheet that fits the smallest window.
TEST_F(ShellWindowTest, MigrationOfferShowsWhatItCoversAndWaitsForTheAnswer)
{
    const DateTexts dates(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone("Europe/Berlin"));
    const auto offered = [](int count) {
        QList<ConversationHistoryEntry> entries;
        for (int n = 0; n < count; ++n) {
            ConversationHistoryEntry entry;
            entry.id = QUuid::createUuid();
            entry.localID = entry.id;
            if (n % 2 == 0)
                entry.title = QStringLiteral("Who takes the car on Saturdays %1").arg(n + 1);
            entry.completedAt = QDateTime(QDate(2026, 2, 9 - n % 9), QTime(19, 30), Qt::UTC);
            entry.duration = 754 + 60 * n;
            entry.backup = ConversationBackupDisplayState::onlyOnThisMac;
            entries.append(entry);
        }
        return entries;
    };
    session.state.needsMigrationOffer = true;
    for (const int count : { 1, 2, 12 }) {
        const QList<ConversationHistoryEntry> entries = offered(count);
        session.state.conversationsAwaitingMigrationOffer = count;
        session.offeredConversations()->replace(entries, dates);
        ASSERT_NE(open(), nullptr);
        ASSERT_TRUE(shell.shows("migrationSheet"));
        const QString introduction = shell.text("migrationIntroduction");
        const QString expected
            = count == 1 ? u"One conversation"_qs : QString::number(count) + u" conversations"_qs;
        EXPECT_TRUE(introduction.startsWith(expected)) << introduction.toStdString();
        ASSERT_TRUE(shell.shows("offeredConversation0"));
        QObject* first = shell.find("offeredConversation0");
        EXPECT_EQ(first->property("checked"), true);
        EXPECT_EQ(shell.text("offeredConversation0Heading"), "Who takes the car on Saturdays 1");
        EXPECT_EQ(shell.text("offeredConversation0Detail"), u"Feb 9, 2026 at 8:30 PM \u00b7 12:34"_qs);
        shell.screenshot(QStringLiteral("migration-offer-%1").arg(count));
        if (count != 2) {
            shell.screenshots(QStringLiteral("migration-offer-%1").arg(count));
            continue;
        }
        EXPECT_EQ(shell.text("offeredConversation1Heading"), u"Conversation \u00b7 Feb 8, 2026"_qs);
        shell.click("offeredConversation1");
        EXPECT_EQ(shell.find("offeredConversation1")->property("checked"), false);
        shell.screenshot("migration-offer-cleared");
        shell.click("declineMigrationButton");
        const testing::FakeShellSession::MigrationAnswer declined { false, { *entries.first().localID } };
        EXPECT_EQ(session.migrationAnswers, QList { declined });
        EXPECT_FALSE(shell.find("acceptMigrationButton")->property("enabled").toBool());
        EXPECT_FALSE(first->property("enabled").toBool());
        EXPECT_TRUE(shell.shows("migrationProgress"));
        shell.screenshot("migration-offer-working");
        emit session.migrationAnswered();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.shows("migrationSheet"); }, 60000));
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
    EXPECT_TRUE(page.shows("emptyTrends"));
    EXPECT_FALSE(page.shows("trends"));
    page.screenshot("people-page");

    // The field hands on the text as typed, by Return and by Save; the view model trims it.
    page.find("leftEditorField")->setProperty("text", QString());
    page.type("leftEditorField", "  Sam  ");
    page.press(Qt::Key_Return);
    page.click("leftEditorSave");
    EXPECT_EQ(people.renames, QStringList({ "0   Sam  ", "0   Sam  " }));
    // A stored name that changes replaces the draft.
    people.rename("Sam");
    EXPECT_EQ(page.find("leftEditorField")->property("text").toString(), "Sam");

    // Two reviews: a trend card for each seat, its rows newest first.
    DerivedSessionResult older = testing::conversationReview('a');
    older.completedAt = older.completedAt.addDays(-7);
    people.store({ testing::conversationReview('b'), older });
    EXPECT_FALSE(page.shows("emptyTrends"));
    EXPECT_TRUE(page.shows("leftTrend"));
    EXPECT_TRUE(page.shows("rightTrend"));
    EXPECT_EQ(
        page.text("leftTrendLine"), u"2 conversations \u00b7 avg share 52% \u00b7 warm : hard 0.5:1"_qs);
    EXPECT_EQ(page.text("leftTrendName"), "SAM");
    page.scrollTo("trends");
    page.screenshot("people-trends");
}

// Quitting during a conversation asks first, from the menu's shortcut and from the window's
// close: Escape or "Keep going" keeps the conversation, "Discard" and "Finish and save" hand the
// choice to the session, which ends the run; while the conversation is being saved the question
// says so. A conversation that ends saved meanwhile takes the question with it, and the quit goes
// ahead.
TEST_F(ShellWindowTest, QuittingDuringAConversationAsksFirst)
{
    testing::FakeRoomModel& room = session.roomModel;
    room.state.isRecording = true;
    ASSERT_NE(open(), nullptr);
    const auto quitAsked = [&] {
        shell.press(Qt::Key_Q, Qt::ControlModifier);
        return QTest::qWaitFor([&] { return shell.shows("quitDialog"); }, 60000);
    };

    ASSERT_TRUE(quitAsked());
    EXPECT_EQ(shell.text("quitTitle"), "Quit during the conversation?");
    EXPECT_EQ(shell.text("saveAndQuitButton"), "Finish and save");
    EXPECT_TRUE(shell.find("saveAndQuitButton")->property("activeFocus").toBool())
        << "the choice that loses nothing has the keyboard";
    shell.screenshots("quit-dialog-recording");
    shell.press(Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.shows("quitDialog"); }, 60000));
    ASSERT_TRUE(quitAsked());
    shell.click("keepGoingButton");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.shows("quitDialog"); }, 60000));
    EXPECT_TRUE(session.quits.isEmpty());

    ASSERT_TRUE(quitAsked());
    shell.click("discardButton");
    EXPECT_EQ(session.quits, QList<bool> { false });
    ASSERT_TRUE(quitAsked());
    shell.click("saveAndQuitButton");
    EXPECT_EQ(session.quits, (QList<bool> { false, true }));

    // Closing the window asks the same, and the window stays.
    room.update([](auto& s) {
        s.isRecording = false;
        s.isProcessing = true;
    });
    shell.window()->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("quitDialog"); }, 60000));
    EXPECT_TRUE(shell.window()->isVisible());
    EXPECT_EQ(shell.text("quitTitle"), "Quit while the conversation is saved?");
    EXPECT_EQ(shell.text("saveAndQuitButton"), "Quit once saved");
    shell.screenshot("quit-dialog-saving");
    room.update([](auto& s) {
        s.isProcessing = false;
        s.finishNotice = u"Conversation ready to review"_qs;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.shows("quitDialog"); }, 60000));
    EXPECT_EQ(session.quits, (QList<bool> { false, true, true }));
}

// A quit asked for while the conversation is finished (from the menu's shortcut a moment after
// Finish) is not dropped when the finish ends: once the conversation is saved the quit goes ahead
// without another answer; a finish that did not save it leaves the question open until answered.
TEST_F(ShellWindowTest, AQuitAskedDuringTheFinishIsKeptUntilTheConversationIsSaved)
{
    testing::FakeRoomModel& room = session.roomModel;
    const struct {
        const char* name;
        bool saved;
    } rows[] = { { "saved", true }, { "not saved", false } };
    ASSERT_NE(open(), nullptr);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        session.quits.clear();
        room.update([](auto& s) {
            s.isRecording = true;
            s.isProcessing = false;
            s.finishNotice.clear();
            s.currentSessionID = u"6F1E9C1A-3B1D-4C55-9A43-0C5A0C1F0E21"_qs;
        });
        shell.press(Qt::Key_Q, Qt::ControlModifier);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.shows("quitDialog"); }, 60000));
        room.update([](auto& s) {
            s.isRecording = false;
            s.isProcessing = true;
        });
        // The account's refresh after the finish names the finished session again; only the
        // notice of a saved review says that it was saved.
        room.update([&](auto& s) {
            if (row.saved)
                s.finishNotice = u"Conversation ready to review"_qs;
            s.isProcessing = false;
        });
        if (row.saved) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.shows("quitDialog"); }, 60000));
            EXPECT_EQ(session.quits, QList<bool> { true });
        } else {
            QTest::qWait(300);
            EXPECT_TRUE(session.quits.isEmpty());
            ASSERT_TRUE(shell.shows("quitDialog")) << "the question went without an answer";
            shell.click("keepGoingButton");
            EXPECT_TRUE(QTest::qWaitFor([&] { return !shell.shows("quitDialog"); }, 60000));
        }
    }
}

} // namespace
} // namespace lumora
