#include "AccountSession.hpp"
#include "FakeShellSession.hpp"
#include "FontRegistrar.hpp"
#include "SecureUpdateController.hpp"
#include "ViewModelFixture.hpp"

#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>
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
class ShellWindowTest : public ::testing::Test {
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
        m_engine.reset();
        qInstallMessageHandler(m_previousHandler);
        EXPECT_TRUE(capturedWarnings.isEmpty()) << capturedWarnings.join("\n").toStdString();
    }

    QQuickWindow* open(bool updatesConfigured = false)
    {
        m_engine.reset();
        m_updates = std::make_unique<SecureUpdateController>(
            updatesConfigured ? std::optional<QString>("http://127.0.0.1:9/feed") : std::nullopt,
            updatesConfigured ? std::optional<QString>("a2V5") : std::nullopt, "0.1.0");
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_engine->addImportPath("qrc:/");
        m_engine->setInitialProperties({
            { "model", QVariant::fromValue<QObject*>(&session) },
            { "updates", QVariant::fromValue<QObject*>(m_updates.get()) },
            { "theoryURL", QUrl("https://lumora.app/theory/") },
        });
        m_engine->load(QUrl("qrc:/Lumora/Shell/Main.qml"));
        if (m_engine->rootObjects().isEmpty())
            return nullptr;
        auto* window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().front());
        window->resize(1180, 760);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        return window;
    }

    QObject* find(QQuickWindow* window, const char* name) const
    {
        QObject* root = window->property("content").value<QObject*>();
        if (QString::fromLatin1(name) == "contentView")
            return root;
        if (auto* found = window->findChild<QObject*>(name))
            return found;
        return root ? root->findChild<QObject*>(name) : nullptr;
    }

    // Lets bindings, popups and their transitions settle, then writes what the window shows.
    void screenshot(QQuickWindow* window, const QString& name)
    {
        QTest::qWait(350);
        const QDir folder(QStringLiteral(LUMORA_SCREENSHOT_FOLDER));
        folder.mkpath(".");
        EXPECT_TRUE(window->grabWindow().save(folder.filePath(name + ".png")));
    }

    QObject* popupItem(QQuickWindow* window, const char* name)
    {
        // Popups are not items: they are found among the window's QObject children.
        for (QObject* object : window->findChildren<QObject*>()) {
            if (object->objectName() == QLatin1String(name))
                return object;
        }
        return nullptr;
    }

    testing::FakeShellSession session;

private:
    testing::ViewModelHome m_home;
    std::unique_ptr<SessionViewModel> m_viewModel;
    std::unique_ptr<AccountSession> m_account;
    std::unique_ptr<SecureUpdateController> m_updates;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
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
    // Becoming active again refreshes the history from the server.
    EXPECT_TRUE(session.refreshes.isEmpty() || session.refreshes.contains(true));
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
