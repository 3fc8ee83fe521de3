#include "security/DesktopKeyring.hpp"

#include "AwaitTask.hpp"
#include "PrivateKeyringSession.hpp"
#include "XvfbDisplay.hpp"
#include "security/AccountSessionStore.hpp"
#include "security/KeychainKeyStore.hpp"

#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTimer>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using lumora::test::awaitTask;
using lumora::testing::PrivateKeyringSession;
using State = DesktopKeyring::State;

bool hasKeyringDaemon()
{
    return !QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty();
}

QDBusConnection busOf(const PrivateKeyringSession& session, const char* name)
{
    return QDBusConnection::connectToBus(session.busAddress(), QString::fromLatin1(name));
}

// Each state of the keyring is told apart, and opening one whose prompt nobody can answer (no
// display for the prompter) leaves it as it was.
TEST(DesktopKeyring, TellsEachStateApartAndAnUnansweredPromptChangesNothing)
{
    if (!hasKeyringDaemon())
        GTEST_SKIP() << "needs gnome-keyring and dbus-daemon";
    struct Row {
        const char* name;
        PrivateKeyringSession::Keyring keyring;
        bool locked;
        State state;
    };
    const Row rows[] = {
        { "unlocked", PrivateKeyringSession::Keyring::unlocked, false, State::available },
        { "locked", PrivateKeyringSession::Keyring::unlocked, true, State::locked },
        { "not made yet", PrivateKeyringSession::Keyring::notMadeYet, false, State::missing },
        { "no daemon", PrivateKeyringSession::Keyring::none, false, State::unreachable },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PrivateKeyringSession session(row.keyring);
        ASSERT_TRUE(session.started());
        if (row.locked) {
            ASSERT_TRUE(session.lock());
        }
        const QDBusConnection bus = busOf(session, row.name);
        EXPECT_EQ(awaitTask(DesktopKeyring::state(bus)), row.state);
        bool prompted = false;
        std::function<void()> prompting = [&prompted] { prompted = true; };
        EXPECT_EQ(awaitTask(DesktopKeyring::prepare(bus, prompting)), row.state);
        EXPECT_EQ(prompted, row.state == State::locked || row.state == State::missing);
        QDBusConnection::disconnectFromBus(QString::fromLatin1(row.name));
    }
}

// A keyring locked while the application runs (as the desktop locks it after a while) answers
// "not found" for the items it holds: every reader is told that it could not read, never that
// there is nothing, and reads as before once it is unlocked again.
TEST(DesktopKeyring, AKeyringLockedLaterIsAnErrorForEveryReaderNotAnEmptyOne)
{
    if (!hasKeyringDaemon())
        GTEST_SKIP() << "needs gnome-keyring and dbus-daemon";
    PrivateKeyringSession session(PrivateKeyringSession::Keyring::unlocked);
    ASSERT_TRUE(session.started());
    const auto store = std::make_shared<KeychainKeyStore>(QStringLiteral("com.lumora.native.test"));
    AccountSessionStore sessions(store);
    const LocalAccountSession saved { QUuid::createUuid(), QUuid::createUuid() };
    ASSERT_TRUE(awaitTask(sessions.save(saved)).has_value());

    ASSERT_TRUE(session.lock());
    const SecureStoreError closed = SecureStoreError::keychain(SecureStoreError::keyringClosedStatus);
    for (const QString& account :
        { AccountSessionStore::currentAccount(), QStringLiteral("never-written") }) {
        const auto read = awaitTask(store->data(account));
        ASSERT_FALSE(read.has_value()) << account.toStdString();
        EXPECT_EQ(read.error(), closed);
    }
    const auto loaded = awaitTask(sessions.load());
    ASSERT_FALSE(loaded.has_value());
    EXPECT_EQ(loaded.error(), AccountSessionStore::Error(closed));

    ASSERT_TRUE(session.unlock());
    const auto again = awaitTask(sessions.load());
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->session, saved);
    const auto none = awaitTask(store->data(QStringLiteral("never-written")));
    ASSERT_TRUE(none.has_value());
    EXPECT_FALSE(none->bytes.has_value()) << "an open keyring's 'not found' is none";
}

// On a new machine the keyring does not exist yet: opening it shows the desktop's prompt for the
// new keyring's password, which is waited for however long the person takes (here longer than a
// keychain call may take), and the keyring is made once the person has answered.
TEST(DesktopKeyring, WaitsForTheNewKeyringPromptAsLongAsThePersonTakes)
{
    if (!hasKeyringDaemon() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()
        || !QFile::exists(QStringLiteral("/usr/libexec/gcr-prompter")))
        GTEST_SKIP() << "needs gnome-keyring, the gcr prompter, Xvfb and xdotool";
    const lumora::testing::XvfbDisplay display;
    ASSERT_FALSE(display.name().isEmpty());
    PrivateKeyringSession session(PrivateKeyringSession::Keyring::notMadeYet, display.name());
    ASSERT_TRUE(session.started());
    const QDBusConnection bus = busOf(session, "new machine");

    constexpr int personTakes = int(KeychainKeyStore::defaultTimeout.count()) + 1500;
    QElapsedTimer sincePrompt;
    bool answered = false;
    std::function<void()> prompting = [&] {
        sincePrompt.start();
        QTimer::singleShot(personTakes, [&] {
            const QString password = PrivateKeyringSession::password();
            answered = display.xdotool({ "search", "--sync", "--onlyvisible", "--class", "gcr-prompter" })
                && display.xdotool({ "type", "--delay", "20", password }) && display.xdotool({ "key", "Tab" })
                && display.xdotool({ "type", "--delay", "20", password })
                && display.xdotool({ "key", "Return" });
        });
    };
    EXPECT_EQ(awaitTask(DesktopKeyring::prepare(bus, prompting)), State::available);
    EXPECT_TRUE(answered);
    EXPECT_GE(sincePrompt.elapsed(), personTakes);
    EXPECT_NE(session.defaultCollection(), u"/");
    EXPECT_FALSE(QDir(session.keyringFolder()).entryList({ "*.keyring" }, QDir::Files).isEmpty());
}

} // namespace
} // namespace lumora
