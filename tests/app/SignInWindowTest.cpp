#include "AccountFixture.hpp"
#include "ShellSessionAdapter.hpp"
#include "SingleInstance.hpp"
#include "WindowHarness.hpp"
#include "providers/ControlPlaneBootstrap.hpp"

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace lumora {
namespace {

// The first sign-in as a couple meets it: the real window over the real view model, whose
// control plane is the real one on loopback with its development sign-in and whose keychain is
// the test session's Secret Service, waited for by the window's own loop. The test plays the
// browser; the callback comes back as the desktop delivers it, as a second launch of the
// program that hands the URL to the running one through the single-instance socket.
class SignInWindowTest : public testing::AccountTest {
protected:
    void TearDown() override
    {
        // The window goes before the objects it reads.
        shell.reset();
        instance.reset();
        session.reset();
        model.reset();
        testing::AccountTest::TearDown();
    }

    // A launch of the real program with `url`, in this test's runtime folder; its exit code.
    int launchWith(const QUrl& url) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtime.path());
        environment.insert("XDG_DATA_HOME", runtime.filePath("data"));
        environment.insert("XDG_CONFIG_HOME", runtime.filePath("config"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        const QString options = environment.value("ASAN_OPTIONS");
        environment.insert(
            "ASAN_OPTIONS", options.isEmpty() ? "detect_leaks=0" : options + ":detect_leaks=0");
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(LUMORA_PROGRAM), { url.toString(QUrl::FullyEncoded) });
        // The running instance answers from this event loop, so it must keep turning.
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // A fresh launch in the real window, taking the links that a later launch of the program
    // hands over through the single-instance socket.
    void openTakingLinks()
    {
        model = launch();
        session
            = std::make_unique<ShellSessionAdapter>(*model, [] { return QDateTime::currentDateTimeUtc(); });
        instance = std::make_unique<SingleInstance>(runtime.filePath("lumora-instance"));
        ASSERT_TRUE(instance->listen());
        QObject::connect(
            instance.get(), &SingleInstance::urlReceived, session.get(), &ShellSession::handleExternalURL);
        shell = std::make_unique<testing::WindowHarness>();
        ASSERT_NE(shell->openWindow(*session), nullptr);
    }

    QTemporaryDir runtime;
    std::unique_ptr<SessionViewModel> model;
    std::unique_ptr<ShellSessionAdapter> session;
    std::unique_ptr<SingleInstance> instance;
    std::unique_ptr<testing::WindowHarness> shell;
};

TEST_F(SignInWindowTest, FreshProfileAgreesSignsInAndTheSecondLaunchCompletesIt)
{
    if (!qEnvironmentVariableIsSet("LUMORA_TEST_SESSION"))
        GTEST_SKIP() << "needs the private keyring session of scripts/with-test-session";
    ASSERT_NO_FATAL_FAILURE(openTakingLinks());
    const auto item = [&](const char* name) { return shell->find(name); };
    const auto cardTitle = [&] { return item("setupCard")->property("title").toString(); };
    EXPECT_TRUE(shell->shows("setupSheet")) << "a fresh profile opens the setup sheet";
    EXPECT_EQ(cardTitle(), "Both people agree to recording");

    shell->click("agreeButton");
    EXPECT_TRUE(model->recordingAgreementAccepted());
    EXPECT_EQ(cardTitle(), "Your private Corvane account");
    shell->screenshot("sign-in-real-control-plane");

    shell->click("signInButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.isEmpty(); }, 60000))
        << model->statusText().toStdString();
    testing::settle(*model);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first().host(), base.host()) << "the page is the control plane's";
    EXPECT_TRUE(model->isAppleAuthorizationActive());
    EXPECT_FALSE(item("signInButton")->property("enabled").toBool());

    const QUrl callback = browse(opened.first(), "Alex");
    ASSERT_TRUE(callback.isValid());
    EXPECT_EQ(launchWith(callback), 0) << "the second launch hands the URL over and ends";
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->isSignedIn(); }, 60000))
        << model->statusText().toStdString();
    testing::settle(*model);
    EXPECT_FALSE(model->isAppleAuthorizationActive());
    EXPECT_TRUE(session->errorMessage().isEmpty()) << session->errorMessage().toStdString();
    EXPECT_EQ(cardTitle(), "Ready when you both are");
    EXPECT_TRUE(savedSession().has_value()) << "the session is kept for the next launch";
    shell->screenshot("sign-in-real-signed-in");
}

// Anyone who has seen this computer's public key (it goes unsigned with every sign-in start) may
// start a sign-in into their own account for it and hand the link over. Delivered as the desktop
// delivers links, to the signed-out application, before any sign-in and while one waits, such a
// link changes nothing on screen or in the account; the sign-in this application started still
// completes, into the account of its own name.
TEST_F(SignInWindowTest, ACraftedLinkNeverSignsTheComputerIn)
{
    if (!qEnvironmentVariableIsSet("LUMORA_TEST_SESSION"))
        GTEST_SKIP() << "needs the private keyring session of scripts/with-test-session";
    ASSERT_NO_FATAL_FAILURE(openTakingLinks());
    shell->click("agreeButton");
    const auto cardTitle = [&] { return shell->find("setupCard")->property("title").toString(); };
    ASSERT_EQ(cardTitle(), "Your private Corvane account");

    const auto page = test::awaitTask(ControlPlaneBootstrap::beginWebAppleAuthorization(
        base, *model->identity(), ControlPlaneBootstrap::newState(), manager));
    ASSERT_TRUE(page.has_value());
    const QUrl crafted = browse(*page, "Mallory");
    ASSERT_TRUE(QUrlQuery(crafted).hasQueryItem("ticket"));
    const auto deliver = [&](const QUrl& url) {
        QSignalSpy received(instance.get(), &SingleInstance::urlReceived);
        EXPECT_EQ(launchWith(url), 0);
        EXPECT_TRUE(received.count() > 0 || received.wait(60000)) << "the link reached the application";
        testing::settle(*model);
    };
    deliver(crafted);
    EXPECT_FALSE(model->isSignedIn());
    EXPECT_TRUE(session->errorMessage().isEmpty()) << session->errorMessage().toStdString();
    EXPECT_EQ(cardTitle(), "Your private Corvane account");
    EXPECT_FALSE(savedSession().has_value());

    shell->click("signInButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.isEmpty(); }, 60000))
        << model->statusText().toStdString();
    testing::settle(*model);
    deliver(crafted);
    EXPECT_TRUE(model->isAppleAuthorizationActive()) << "the attempt keeps waiting for its own return";
    EXPECT_FALSE(model->isSignedIn());
    const auto recovered
        = test::awaitTask(ControlPlaneBootstrap::recoverRegisteredDevice(base, *model->identity(), manager));
    ASSERT_TRUE(recovered.has_value());
    EXPECT_FALSE(recovered->has_value()) << "the crafted ticket was never redeemed";

    deliver(browse(opened.first(), "Alex"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->isSignedIn(); }, 60000))
        << model->statusText().toStdString();
    testing::settle(*model);
    EXPECT_EQ(cardTitle(), "Ready when you both are");
    shell->screenshot("sign-in-crafted-link-ignored");
}

// A browser that refuses to run (chromium as root) never returns: the attempt ends at once with
// a sentence that says so, and the page can be copied and opened by hand, which still signs in.
TEST_F(SignInWindowTest, ABrowserThatCannotOpenEndsTheAttemptAndOffersTheAddress)
{
    if (!qEnvironmentVariableIsSet("LUMORA_TEST_SESSION"))
        GTEST_SKIP() << "needs the private keyring session of scripts/with-test-session";
    browserOpens = false;
    model = launch();
    session = std::make_unique<ShellSessionAdapter>(*model, [] { return QDateTime::currentDateTimeUtc(); });
    shell = std::make_unique<testing::WindowHarness>();
    ASSERT_NE(shell->openWindow(*session), nullptr);
    shell->click("agreeButton");
    EXPECT_FALSE(shell->shows("signInAddressRow"));

    shell->click("signInButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !session->signInAddress().isEmpty(); }, 60000))
        << model->statusText().toStdString();
    testing::settle(*model);
    EXPECT_FALSE(model->isAppleAuthorizationActive());
    EXPECT_TRUE(shell->find("signInButton")->property("enabled").toBool()) << "no wait of minutes";
    EXPECT_EQ(session->errorMessage(), SessionViewModel::browserNotOpenedMessage());
    EXPECT_TRUE(shell->shows("setupError"));
    ASSERT_TRUE(shell->shows("signInAddressRow"));
    ASSERT_EQ(opened.size(), 1);
    const QString address = opened.first().toString(QUrl::FullyEncoded);
    EXPECT_EQ(shell->text("signInAddressRowAddress"), address);
    shell->click("signInAddressRowCopy");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), address);
    EXPECT_EQ(shell->text("signInAddressRowCopy"), "Copied");
    shell->screenshots("sign-in-browser-not-opened");

    // The address, pasted into a browser by hand, returns to the application as usual.
    session->handleExternalURL(browse(QUrl(QGuiApplication::clipboard()->text()), "Kim"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->isSignedIn(); }, 60000))
        << model->statusText().toStdString();
    testing::settle(*model);
    EXPECT_TRUE(session->signInAddress().isEmpty());
    EXPECT_TRUE(session->errorMessage().isEmpty());
}

// The control plane's own bound of sign-in starts from one address: seven a minute.
class SignInAttemptsWindowTest : public SignInWindowTest {
protected:
    QStringList extraServerArguments() const override { return { "--sign-in-rate-per-address", "7" }; }
};

// A person who gives up on the browser page and starts again is let through each time, the sixth
// time with one device key too; past the server's rate the window says that there were too many
// attempts and when to try again. The hint that the browser opens and returns here gives way
// where it does not hold: to the address of a browser that could not be opened, to the server
// that offers no sign-in and to too many attempts; nothing is drawn in its place.
TEST_F(SignInAttemptsWindowTest, GivingUpAgainAndAgainIsLetThroughAndTheHintGivesWayWhereItDoesNotHold)
{
    if (!qEnvironmentVariableIsSet("LUMORA_TEST_SESSION"))
        GTEST_SKIP() << "needs the private keyring session of scripts/with-test-session";
    const auto openShell = [&] {
        model = launch();
        session
            = std::make_unique<ShellSessionAdapter>(*model, [] { return QDateTime::currentDateTimeUtc(); });
        shell = std::make_unique<testing::WindowHarness>();
        ASSERT_NE(shell->openWindow(*session), nullptr);
    };
    ASSERT_NO_FATAL_FAILURE(openShell());
    shell->click("agreeButton");
    EXPECT_TRUE(shell->shows("browserHint"));
    // The space between the sign-in button and the next row drawn below it, and the height of
    // the step it is in below it (nothing when it ends the step).
    // (Not a number when one is missing, which find() has already failed the test for.)
    const auto gapBelowButton = [&](const char* next) {
        const auto* button = qobject_cast<QQuickItem*>(shell->find("signInButton"));
        const auto* below = qobject_cast<QQuickItem*>(shell->find(next));
        return button && below ? below->mapToScene({}).y() - button->mapToScene({ 0, button->height() }).y()
                               : qQNaN();
    };
    const auto stepBelowButton = [&] {
        const auto* step = qobject_cast<QQuickItem*>(shell->find("setupStep"));
        const auto* button = qobject_cast<QQuickItem*>(shell->find("signInButton"));
        return step && button ? step->height() - (button->y() + button->height()) : qQNaN();
    };
    const auto signIn = [&] {
        shell->click("signInButton");
        testing::settle(*model);
        shell->waitForFrame();
    };
    // The message shows, and nothing is drawn below the button in the hint's place.
    const auto hintGivesWayTo = [&](const QString& message, const QString& screenshot) {
        EXPECT_EQ(session->errorMessage(), message);
        EXPECT_FALSE(shell->shows("browserHint")) << message.toStdString();
        EXPECT_NEAR(stepBelowButton(), 0, 0.5);
        shell->screenshots(screenshot, "setupError");
    };
    const auto closeShell = [&] {
        shell.reset();
        session.reset();
        model.reset();
    };

    browserOpens = false;
    signIn();
    ASSERT_TRUE(shell->shows("signInAddressRow")) << session->errorMessage().toStdString();
    EXPECT_FALSE(shell->shows("browserHint")) << "the browser could not be opened";
    EXPECT_NEAR(gapBelowButton("signInAddressRow"), 16, 0.5) << "the address follows the button";
    shell->screenshots("sign-in-hint-browser-not-opened", "signInAddressRow");

    // The person gives up on the browser page: the sheet's Close ends the attempt, and the
    // room's start opens the sheet again.
    browserOpens = true;
    for (int attempt = 2; attempt <= 7; ++attempt) {
        signIn();
        EXPECT_EQ(session->errorMessage(), "") << "attempt " << attempt;
        EXPECT_EQ(opened.size(), attempt);
        shell->click("setupCloseButton");
        EXPECT_FALSE(model->isAppleAuthorizationActive());
        shell->click("primaryButton");
    }
    signIn();
    hintGivesWayTo(
        "There were too many sign-in attempts. Try again in a minute.", "sign-in-too-many-attempts");

    // A server that offers no sign-in.
    closeShell();
    testing::ControlPlaneProcess closed(
        { "--tls-cert", certificates.serverCertificate(), "--tls-key", certificates.serverKey() });
    ASSERT_TRUE(closed.started());
    home.info[InfoResource::controlPlaneURLKey] = closed.baseUrl().toString();
    ASSERT_NO_FATAL_FAILURE(openShell());
    shell->click("primaryButton");
    signIn();
    hintGivesWayTo("Sign-in is not available on this server.", "sign-in-hint-not-available");
    closeShell();
    EXPECT_EQ(closed.stop(), 0);
}

} // namespace
} // namespace lumora
