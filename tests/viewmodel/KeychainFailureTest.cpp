#include "AccountFixture.hpp"
#include "PrivateKeyringSession.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "security/DesktopKeyring.hpp"

#include <QStandardPaths>

namespace lumora {
namespace {

using testing::AccountTest;
using testing::PrivateKeyringSession;
using testing::settle;

DerivedSessionResult review(const QString& title)
{
    DerivedSessionResult result;
    result.id = QUuid::createUuid();
    result.title = title;
    result.completedAt = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 600, Qt::UTC);
    result.duration = 60;
    result.fouls = QList<ProcessFoulAnnotation> {};
    result.summary = QStringLiteral("You both named the bills.");
    result.transcript = QList<SpeakerTurn> { SpeakerTurn(0, 0, 60, "Can we look at the bills?") };
    return result;
}

// The application's start-up on a desktop keyring of the test's own, opened as the application
// opens it; the keyring's prompts are dismissed at once, as nobody is there to answer them.
class DesktopKeyringStartUp : public AccountTest {
protected:
    DesktopKeyringStartUp()
        : keyring(std::make_unique<PrivateKeyringSession>(PrivateKeyringSession::Keyring::unlocked))
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
        ASSERT_TRUE(keyring->started());
        AccountTest::SetUp();
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

} // namespace
} // namespace lumora
