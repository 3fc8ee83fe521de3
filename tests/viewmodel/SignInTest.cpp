#include "AccountFixture.hpp"
#include "providers/ControlPlaneBootstrap.hpp"

namespace lumora {
namespace {

using testing::AccountTest;
using testing::settle;

const QString incomplete = QStringLiteral("Sign in with Apple did not complete.");
const QString canceled = QStringLiteral("Sign in with Apple was canceled.");
const QString timedOut = QStringLiteral("Sign in with Apple timed out. Try again.");
const QString invalidResponse = QStringLiteral("The service returned an invalid response.");

void wait(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

class SignInTest : public AccountTest {
public:
    // A ticket the development sign-in issued to another device's key.
    QUrl foreignCallback(const QString& name)
    {
        const DeviceIdentity other = testing::newIdentity();
        const auto page = test::awaitTask(ControlPlaneBootstrap::beginWebAppleAuthorization(
            base, other, ControlPlaneBootstrap::newState(), manager));
        EXPECT_TRUE(page.has_value());
        return page ? browse(*page, name) : QUrl();
    }
};

// The state value the browser brought back for the attempt that `genuine` returns to, on another
// URL of the route.
QUrl withStateOf(const QUrl& genuine, QString url)
{
    return QUrl(url + u"&state="_qs + QUrlQuery(genuine).queryItemValue("state"));
}

// Every way the browser's return to this attempt can fail: each gives its sentence, ends the
// attempt and leaves the computer signed out with nothing saved.
TEST_F(SignInTest, EachUnusableCallbackGivesItsSentenceAndLeavesTheComputerSignedOut)
{
    struct Row {
        const char* name;
        std::function<QUrl(SignInTest&, const QUrl& genuine)> url;
        QString text;
    };
    const Row rows[] = {
        { "error item",
            [](SignInTest&, const QUrl& genuine) {
                return withStateOf(genuine, "lumora://apple-auth?error=user_cancelled_authorize");
            },
            canceled },
        { "error beside a valid ticket",
            [](SignInTest&, const QUrl& genuine) {
                QUrl url = genuine;
                url.setQuery(url.query() + "&error=1");
                return url;
            },
            canceled },
        { "ticket without a value",
            [](SignInTest&, const QUrl& genuine) {
                return withStateOf(genuine, "corvane://apple-auth?ticket");
            },
            incomplete },
        { "no ticket",
            [](SignInTest&, const QUrl& genuine) { return withStateOf(genuine, "lumora://apple-auth/?x=1"); },
            incomplete },
        { "unknown ticket",
            [](SignInTest&, const QUrl& genuine) {
                return withStateOf(genuine, "lumora://apple-auth?ticket=not-a-ticket");
            },
            QStringLiteral("That request could not be completed safely.") },
        // Taken for another key and brought back with this attempt's state: the control plane
        // refuses a redemption this key signs, and nothing of it is saved.
        { "ticket of another device",
            [](SignInTest& test, const QUrl& genuine) {
                const QString ticket = QUrlQuery(test.foreignCallback("Hal")).queryItemValue("ticket");
                return withStateOf(genuine, u"lumora://apple-auth?ticket="_qs + ticket);
            },
            SessionViewModel::notAuthorizedMessage() },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto counting = std::make_shared<testing::OverwrittenSessionKeychain>(
            std::make_shared<KeychainKeyStore>(service));
        chosenKeychain = counting;
        auto model = launch();
        model->requestSignIn();
        settle(*model);
        ASSERT_TRUE(model->isAppleAuthorizationActive());
        const QUrl url = row.url(*this, browse(opened.last(), "Gus"));
        model->handleExternalURL(url);
        EXPECT_FALSE(model->isAppleAuthorizationActive());
        settle(*model);
        EXPECT_EQ(model->errorMessage(), row.text) << url.toString().toStdString();
        EXPECT_EQ(model->statusText(), row.text);
        EXPECT_FALSE(model->isSignedIn());
        EXPECT_FALSE(model->isBusy());
        EXPECT_EQ(model->client(), nullptr);
        EXPECT_EQ(savedSession(), std::nullopt);
        EXPECT_EQ(counting->sessionWrites, 0);
    }
}

// Anyone may start a sign-in into their own account for this computer's public key and hand
// the link over. Only a return of the sign-in this application started is taken: any other
// link, before any attempt, while one waits or after one ended, changes nothing and is never
// sent to the control plane, and the attempt keeps waiting for its own return.
TEST_F(SignInTest, ALinkOfASignInThisApplicationDidNotStartChangesNothing)
{
    auto model = launch();
    const auto crafted = [&](const QString& name) {
        const auto page = test::awaitTask(ControlPlaneBootstrap::beginWebAppleAuthorization(
            base, *model->identity(), ControlPlaneBootstrap::newState(), manager));
        EXPECT_TRUE(page.has_value());
        return page ? browse(*page, name) : QUrl();
    };
    const auto expectIgnored = [&](const QUrl& url, bool waiting) {
        model->handleExternalURL(url);
        settle(*model);
        EXPECT_EQ(model->isAppleAuthorizationActive(), waiting) << url.toString().toStdString();
        EXPECT_FALSE(model->isSignedIn()) << url.toString().toStdString();
        EXPECT_EQ(model->errorMessage(), std::nullopt) << url.toString().toStdString();
        EXPECT_EQ(savedSession(), std::nullopt);
    };
    // Signed out, no sign-in ever started here.
    const QUrl mallorys = crafted("Mallory");
    expectIgnored(mallorys, false);

    model->requestSignIn();
    settle(*model);
    ASSERT_TRUE(model->isAppleAuthorizationActive());
    const QUrl page = opened.last();
    for (const QUrl& url : { mallorys, crafted("Mallory"), QUrl("lumora://apple-auth?ticket=x"),
             QUrl("lumora://apple-auth?ticket=x&state="), QUrl("lumora://apple-auth?error=1"),
             QUrl("lumora://apple-auth:99999/?ticket=x") })
        expectIgnored(url, true);
    const auto recovered
        = test::awaitTask(ControlPlaneBootstrap::recoverRegisteredDevice(base, *model->identity(), manager));
    ASSERT_TRUE(recovered.has_value());
    EXPECT_FALSE(recovered->has_value()) << "no link was redeemed for this key";

    model->handleExternalURL(browse(page, "Nia"));
    settle(*model);
    EXPECT_TRUE(model->isSignedIn()) << model->statusText().toStdString();
}

TEST_F(SignInTest, URLsOfOtherRoutesAreIgnoredWhileTheBrowserIsOpen)
{
    auto model = launch();
    model->requestSignIn();
    settle(*model);
    for (const char* url :
        { "lumora://settings?ticket=x", "https://apple-auth/?ticket=x", "mailto:apple-auth" }) {
        model->handleExternalURL(QUrl(url));
        settle(*model);
        EXPECT_TRUE(model->isAppleAuthorizationActive()) << url;
        EXPECT_EQ(model->statusText(), "Sign in to begin") << url;
    }
}

// The attempt ends by the time-out or by the user; a return from the browser after that still
// signs in.
TEST_F(SignInTest, ATimedOutOrCanceledAttemptStillCompletesWhenTheBrowserReturnsLate)
{
    signInTimeout = std::chrono::milliseconds(200);
    for (const bool userCancels : { false, true }) {
        SCOPED_TRACE(userCancels ? "canceled" : "timed out");
        auto model = launch();
        model->requestSignIn();
        settle(*model);
        ASSERT_TRUE(model->isAppleAuthorizationActive());
        const QUrl page = opened.last();
        if (userCancels) {
            model->cancelAppleAuthorization();
            // Past the time-out, which nothing marks once the attempt is canceled: it must not
            // speak up after the cancel.
            wait(std::chrono::milliseconds(400));
        } else {
            EXPECT_TRUE(test::spinUntil([&] { return !model->isAppleAuthorizationActive(); }, 60000));
        }
        EXPECT_FALSE(model->isAppleAuthorizationActive());
        const QString expected = userCancels ? QStringLiteral("Sign in to begin") : timedOut;
        EXPECT_EQ(model->statusText(), expected);
        EXPECT_EQ(model->errorMessage(), userCancels ? std::nullopt : std::optional(timedOut));

        model->handleExternalURL(browse(page, userCancels ? "Ivy" : "Jon"));
        settle(*model);
        EXPECT_TRUE(model->isSignedIn()) << model->statusText().toStdString();
        EXPECT_EQ(model->errorMessage(), std::nullopt);
        model->requestSignOut();
        settle(*model);
    }
}

TEST_F(SignInTest, APageThatCannotBeShownSafelyIsNeverOpened)
{
    struct Row {
        const char* name;
        std::function<void(SignInTest&)> arrange;
        QString text;
        qsizetype pagesOpened;
    };
    const Row rows[] = {
        { "browser refuses", [](SignInTest& test) { test.browserOpens = false; },
            SessionViewModel::browserNotOpenedMessage(), 1 },
        { "another sign-in host",
            [](SignInTest& test) { test.home.info[InfoResource::signInHostKey] = "appleid.apple.com"; },
            invalidResponse, 0 },
        { "no sign-in host", [](SignInTest& test) { test.home.info.remove(InfoResource::signInHostKey); },
            invalidResponse, 0 },
        { "no control plane",
            [](SignInTest& test) { test.home.info.remove(InfoResource::controlPlaneURLKey); },
            QStringLiteral("This build is not connected to the control plane."), 0 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QJsonObject info = home.info;
        opened.clear();
        row.arrange(*this);
        auto model = launch();
        model->requestSignIn();
        settle(*model);
        EXPECT_EQ(opened.size(), row.pagesOpened);
        EXPECT_EQ(model->errorMessage(), row.text);
        EXPECT_EQ(model->statusText(), row.text);
        EXPECT_FALSE(model->isAppleAuthorizationActive());
        EXPECT_FALSE(model->isBusy());
        // The page the browser did not show stays on screen, to be opened by hand.
        EXPECT_EQ(model->appleAuthorizationPage(),
            row.pagesOpened > 0 ? std::optional(opened.last()) : std::optional<QUrl>());
        home.info = info;
        browserOpens = true;
    }
}

// The application was closed while the sign-in page was open, and the browser's return starts
// it again: the link waits for the start-up to read the key and then signs in.
TEST_F(SignInTest, AReturnThatStartsTheApplicationSignsInOnceTheStartUpIsDone)
{
    QUrl page;
    {
        auto first = launch();
        first->requestSignIn();
        settle(*first);
        ASSERT_FALSE(opened.isEmpty());
        page = opened.last();
    }
    const QUrl callback = browse(page, "Kim");
    auto model = open();
    ASSERT_FALSE(model->isStartUpFinished());
    model->handleExternalURL(callback);
    settle(*model);
    EXPECT_TRUE(model->isSignedIn()) << model->statusText().toStdString();
    EXPECT_EQ(model->errorMessage(), std::nullopt);
}

} // namespace
} // namespace lumora
