#include "AccountFixture.hpp"
#include "PrivateKeyringSession.hpp"
#include "XvfbDisplay.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "security/DesktopKeyring.hpp"

#include <QStandardPaths>

namespace lumora {
namespace {

using testing::AccountTest;
using testing::PrivateKeyringSession;
using testing::review;
using testing::settle;
using testing::turnUntil;

// The application's start-up on a desktop keyring of the test's own, opened as the application
// opens it; unless a test shows them on a display, the keyring's prompts are dismissed at once,
// as nobody is there to answer them.
class DesktopKeyringStartUp : public AccountTest {
protected:
    DesktopKeyringStartUp()
    {
        // On the bus of the session in use at the time of the call.
        prepareKeyring = [this](std::function<void()> prompting) {
            const QString address = keyring->busAddress();
            return DesktopKeyring::prepare(
                QDBusConnection::connectToBus(address, u"keyring "_qs + address), std::move(prompting));
        };
    }

    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon")).isEmpty())
            GTEST_SKIP() << "needs gnome-keyring";
        // Made before anything in this process talks to the session bus.
        keyring = makeKeyring();
        ASSERT_TRUE(keyring->started());
        AccountTest::SetUp();
    }

    virtual std::unique_ptr<PrivateKeyringSession> makeKeyring()
    {
        return std::make_unique<PrivateKeyringSession>(PrivateKeyringSession::Keyring::unlocked);
    }

    std::unique_ptr<PrivateKeyringSession> keyring;
};

// A keyring that is locked or not running at start-up is an error of its own: the computer is
// neither taken for one without a saved session (nothing is recovered, no key is made) nor for a
// build without a server. Pressing Sign in opens the keyring again; once it is open, the saved
// account comes back without the browser.
TEST_F(DesktopKeyringStartUp, ALockedOrMissingKeyringIsAnErrorOfItsOwnAndSignInOpensItAgain)
{
    auto first = launch();
    signIn(*first, "Wes");
    const AccountState account = *first->account();
    first.reset();

    ASSERT_TRUE(keyring->lock());
    auto locked = launch();
    EXPECT_EQ(locked->errorMessage(), SessionViewModel::keyringFailureMessage(KeyringState::locked));
    EXPECT_EQ(locked->statusText(), "Sign in to begin");
    EXPECT_FALSE(locked->isSignedIn());
    EXPECT_FALSE(locked->identity().has_value());
    EXPECT_EQ(locked->resultStore(), nullptr);
    locked->requestSignIn();
    settle(*locked);
    EXPECT_EQ(locked->errorMessage(), SessionViewModel::keyringFailureMessage(KeyringState::locked))
        << "still locked: said again, never that the build has no server";
    EXPECT_EQ(opened.size(), 1);

    ASSERT_TRUE(keyring->unlock());
    locked->requestSignIn();
    settle(*locked);
    EXPECT_EQ(locked->errorMessage(), std::nullopt);
    EXPECT_EQ(locked->account(), account) << locked->statusText().toStdString();
    EXPECT_EQ(opened.size(), 1) << "restored, no browser";
    expectServices(*locked, true);
    locked.reset();

    // Without any keyring daemon the keychain is unreachable; nothing else is said instead.
    keyring = std::make_unique<PrivateKeyringSession>(PrivateKeyringSession::Keyring::none);
    ASSERT_TRUE(keyring->started());
    auto unreachable = launch();
    const QString noKeyring = SessionViewModel::keyringFailureMessage(KeyringState::unreachable);
    EXPECT_EQ(unreachable->errorMessage(), noKeyring);
    unreachable->requestSignIn();
    settle(*unreachable);
    EXPECT_EQ(unreachable->errorMessage(), noKeyring);
    EXPECT_EQ(unreachable->statusText(), "Sign in to begin");
}

// A keychain that does not answer when the saved session is read is not a keychain without one:
// no device is recovered behind it, and Sign in reads it again.
TEST_F(AccountTest, ASavedSessionThatCannotBeReadIsNotTakenForNone)
{
    realKeychain = false;
    auto first = launch();
    signIn(*first, "Xan");
    const AccountState account = *first->account();
    first.reset();

    home.keychain->timingOutReads.insert(AccountSessionStore::currentAccount());
    auto silent = launch();
    EXPECT_EQ(silent->errorMessage(), "Your desktop keyring did not answer in time. Sign in to try again.");
    EXPECT_FALSE(silent->isSignedIn());
    expectServices(*silent, false);
    EXPECT_EQ(opened.size(), 1);

    home.keychain->timingOutReads.clear();
    silent->requestSignIn();
    settle(*silent);
    EXPECT_EQ(silent->account(), account);
    EXPECT_EQ(silent->errorMessage(), std::nullopt);
    EXPECT_EQ(opened.size(), 1) << "restored, no browser";
}

// Reviews whose key the keychain no longer gives: the history is empty, and says why.
TEST_F(AccountTest, ReviewsWhoseKeyIsGoneEmptyTheHistoryAndSaySo)
{
    auto model = launch();
    signIn(*model, "Yve");
    ASSERT_TRUE(test::awaitTask(model->resultStore()->save(review("Sealed"))));
    model.reset();
    ASSERT_TRUE(test::awaitTask(keychain()->remove(EncryptedResultStore::keyAccount())));

    auto again = launch();
    EXPECT_TRUE(again->isSignedIn());
    EXPECT_TRUE(again->results().isEmpty());
    EXPECT_TRUE(again->historyEntries().isEmpty());
    EXPECT_EQ(again->errorMessage(),
        SessionViewModel::unreadableResultsMessage(SecureStoreError::keyUnavailable()));
    EXPECT_EQ(again->statusText(), again->errorMessage().value_or(QString()));
}

// A new machine: the keyring does not exist yet, and the desktop's prompt asks for its new
// password. The start-up waits for the person, longer than a keychain call may take, says that
// it waits, and then makes this computer's key in the new keyring; signing in follows.
class NewKeyringStartUp : public DesktopKeyringStartUp {
protected:
    std::unique_ptr<PrivateKeyringSession> makeKeyring() override
    {
        return std::make_unique<PrivateKeyringSession>(
            PrivateKeyringSession::Keyring::notMadeYet, display.name());
    }

    testing::XvfbDisplay display;
};

TEST_F(NewKeyringStartUp, TheStartUpWaitsForTheNewKeyringsPromptAndGoesOn)
{
    if (QStandardPaths::findExecutable(u"xdotool"_qs).isEmpty() || display.name().isEmpty())
        GTEST_SKIP() << "needs Xvfb and xdotool";
    auto model = open();
    ASSERT_TRUE(turnUntil([&] { return model->statusText() == SessionViewModel::keyringPromptMessage(); },
        std::chrono::seconds(60)));
    (void)turnUntil([] { return false; }, KeychainKeyStore::defaultTimeout + std::chrono::milliseconds(1500));
    EXPECT_FALSE(model->isStartUpFinished()) << "still waiting for the person";
    const QString password = PrivateKeyringSession::password();
    ASSERT_TRUE(display.xdotool({ "search", "--sync", "--onlyvisible", "--class", "gcr-prompter" }));
    ASSERT_TRUE(display.xdotool({ "type", "--delay", "20", password }));
    ASSERT_TRUE(display.xdotool({ "key", "Tab" }));
    ASSERT_TRUE(display.xdotool({ "type", "--delay", "20", password }));
    ASSERT_TRUE(display.xdotool({ "key", "Return" }));
    settle(*model);
    EXPECT_EQ(model->errorMessage(), std::nullopt);
    EXPECT_EQ(model->statusText(), "Sign in to begin");
    ASSERT_TRUE(model->identity().has_value());
    EXPECT_NE(model->resultStore(), nullptr);
    const auto key = test::awaitTask(keychain()->data(DeviceIdentity::storeAccount()));
    ASSERT_TRUE(key.has_value());
    EXPECT_TRUE(key->bytes.has_value()) << "the key is in the new keyring";
    signIn(*model, "Zoe");
}

} // namespace
} // namespace lumora
