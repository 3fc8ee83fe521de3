#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace lumora::testing {

// Ends a process a test started: asks it to end, and makes it end after five seconds.
void stop(QProcess& process);

// A D-Bus session bus of the test's own (dbus-daemon) on a socket in a folder of its own. Any
// name may be owned and called; on demand it starts only the services described in the folders
// it is given, none by default: never the desktop's own (a notification server, a keyring, the
// accessibility bus), which would make what a test meets depend on what the machine has
// installed. The daemon, and what it starts, run in `environment`.
class PrivateSessionBus {
public:
    explicit PrivateSessionBus(const QStringList& serviceFolders = {},
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    [[nodiscard]] bool isRunning() const { return !m_address.isEmpty(); }
    [[nodiscard]] const QString& address() const { return m_address; }
    // A connection of its own to the bus, closed with the bus.
    QDBusConnection connect(const QString& name);

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};

} // namespace lumora::testing
