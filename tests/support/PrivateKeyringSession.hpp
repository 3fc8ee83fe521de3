#pragma once

#include "PrivateSessionBus.hpp"

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>

namespace lumora::testing {

// A D-Bus session of the test's own, with a gnome-keyring daemon in a home of its own, which this
// process takes as its session bus from construction on: a keyring that is locked, not made yet
// or not there at all, without touching the shared test session. Construct it before anything in
// the process talks to the session bus (each test runs in a process of its own).
//
// The keyring's prompts (a new keyring's password, the password that unlocks it) are shown by
// the desktop's prompter on `display` when one is given; without a display they are dismissed
// at once, as on a desktop where nobody answers.
class PrivateKeyringSession {
public:
    enum class Keyring {
        unlocked, // the login keyring, made and unlocked with `password()`
        notMadeYet, // a keyring daemon without any keyring, as on a new machine
        none, // no keyring daemon, and none that the bus could start
    };

    explicit PrivateKeyringSession(Keyring keyring, const QString& display = {});
    ~PrivateKeyringSession();
    PrivateKeyringSession(const PrivateKeyringSession&) = delete;
    PrivateKeyringSession& operator=(const PrivateKeyringSession&) = delete;

    [[nodiscard]] bool started() const { return m_started; }
    [[nodiscard]] static QString password() { return QStringLiteral("lumora-keyring"); }
    [[nodiscard]] QString busAddress() const { return m_address; }
    // The keyring's folder (its files, once made).
    [[nodiscard]] QString keyringFolder() const { return m_home.filePath(".local/share/keyrings"); }

    // Locks the login keyring, as the desktop does after a while or at suspend.
    [[nodiscard]] bool lock();
    // Unlocks it with its password, as the person does at the desktop's own prompt.
    [[nodiscard]] bool unlock();
    // The default collection's path, or "/" when there is none.
    [[nodiscard]] QString defaultCollection();
    [[nodiscard]] bool isLocked();

private:
    bool startDaemon(const QStringList& arguments, bool withPassword);
    bool waitForKeyring(bool unlocked);
    QDBusConnection bus();
    [[nodiscard]] QString connectionName() const;

    QTemporaryDir m_home;
    QProcessEnvironment m_environment;
    std::optional<PrivateSessionBus> m_bus;
    std::unique_ptr<QProcess> m_daemon;
    QString m_address;
    QByteArray m_previousAddress;
    bool m_started = false;
};

} // namespace lumora::testing
