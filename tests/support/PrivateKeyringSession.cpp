#include "PrivateKeyringSession.hpp"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
// After Qt's headers: GLib's own "signals" must not meet Qt's keyword.
#undef signals
#include <gio/gio.h>

namespace lumora::testing {
namespace {

const QString secrets = QStringLiteral("org.freedesktop.secrets");
const QString loginCollection = QStringLiteral("/org/freedesktop/secrets/collection/login");

// The desktop's keyring prompter, which a keyring daemon asks for a new keyring's password or
// the one that unlocks it: the one service the session's bus starts on demand.
const QStringList prompterServices { QStringLiteral("org.gnome.keyring.SystemPrompter.service"),
    QStringLiteral("org.gnome.keyring.PrivatePrompter.service") };

// A folder of the services the bus may start, copied from where the desktop installs them.
bool listPrompters(const QString& folder)
{
    for (const QString& service : prompterServices) {
        const QString installed = QStandardPaths::locate(
            QStandardPaths::GenericDataLocation, QStringLiteral("dbus-1/services/") + service);
        if (!installed.isEmpty() && !QFile::copy(installed, folder + u'/' + service))
            return false;
    }
    return true;
}

} // namespace

PrivateKeyringSession::PrivateKeyringSession(Keyring keyring, const QString& display)
{
    const QString home = m_home.path();
    for (const char* folder : { ".local/share/keyrings", ".cache", "runtime", "services" })
        QDir(home).mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(
        home + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Without a keyring there is nothing the bus may start.
    QStringList services;
    if (keyring != Keyring::none) {
        services.append(m_home.filePath(QStringLiteral("services")));
        if (!listPrompters(services.constFirst()))
            return;
    }

    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert("HOME", home);
    m_environment.insert("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    m_environment.insert("XDG_CACHE_HOME", home + QStringLiteral("/.cache"));
    m_environment.insert("XDG_RUNTIME_DIR", home + QStringLiteral("/runtime"));
    m_environment.remove("GNOME_KEYRING_CONTROL");
    m_environment.remove("DBUS_SESSION_BUS_ADDRESS");
    if (display.isEmpty())
        m_environment.remove("DISPLAY");
    else
        m_environment.insert("DISPLAY", display);
    m_bus.emplace(services, m_environment);
    m_address = m_bus->address();
    if (m_address.isEmpty())
        return;
    m_previousAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());

    switch (keyring) {
    case Keyring::unlocked:
        m_started = startDaemon({ QStringLiteral("--unlock") }, true) && waitForKeyring(true);
        break;
    case Keyring::notMadeYet:
        m_started = startDaemon({ QStringLiteral("--start") }, false);
        break;
    case Keyring::none:
        m_started = true;
        break;
    }
}

PrivateKeyringSession::~PrivateKeyringSession()
{
    // The key store reaches the bus through GLib, whose session connection ends the process
    // (SIGTERM) when its bus goes away: not this bus, which goes with the test.
    if (!m_address.isEmpty()) {
        if (GDBusConnection* glib = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
            g_dbus_connection_set_exit_on_close(glib, FALSE);
            g_object_unref(glib);
        }
    }
    if (m_daemon)
        stop(*m_daemon);
    m_bus.reset();
    if (!m_address.isEmpty()) {
        QDBusConnection::disconnectFromBus(connectionName());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_previousAddress);
    }
}

QDBusConnection PrivateKeyringSession::bus()
{
    return QDBusConnection::connectToBus(m_address, connectionName());
}

QString PrivateKeyringSession::connectionName() const
{
    return QStringLiteral("lumora-test-keyring ") + m_address;
}

bool PrivateKeyringSession::startDaemon(const QStringList& arguments, bool withPassword)
{
    auto daemon = std::make_unique<QProcess>();
    QProcessEnvironment environment = m_environment;
    environment.insert("DBUS_SESSION_BUS_ADDRESS", m_address);
    daemon->setProcessEnvironment(environment);
    daemon->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon->setStandardOutputFile(QProcess::nullDevice());
    daemon->start(QStringLiteral("gnome-keyring-daemon"),
        arguments + QStringList { QStringLiteral("--foreground"), QStringLiteral("--components=secrets") });
    if (!daemon->waitForStarted(60000))
        return false;
    // Written out before the wait below, which turns no event loop.
    if (withPassword) {
        daemon->write(password().toUtf8());
        daemon->waitForBytesWritten(5000);
    }
    daemon->closeWriteChannel();
    const QDeadlineTimer deadline(60000);
    bool owned = false;
    while (!owned && !deadline.hasExpired()) {
        const QDBusReply<uint> owner = bus().interface()->servicePid(secrets);
        owned = owner.isValid() && qint64(owner.value()) == daemon->processId();
        if (!owned)
            QThread::msleep(50);
    }
    m_daemon = std::move(daemon);
    return owned;
}

bool PrivateKeyringSession::waitForKeyring(bool unlocked)
{
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (defaultCollection() != u"/" && isLocked() != unlocked)
            return true;
        QThread::msleep(50);
    }
    return false;
}

QString PrivateKeyringSession::defaultCollection()
{
    QDBusMessage call = QDBusMessage::createMethodCall(secrets, QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("ReadAlias"));
    call << QStringLiteral("default");
    call.setAutoStartService(false);
    const QDBusReply<QDBusObjectPath> reply = bus().call(call, QDBus::Block, 5000);
    return reply.isValid() ? reply.value().path() : QString();
}

bool PrivateKeyringSession::isLocked()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        secrets, loginCollection, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    call.setAutoStartService(false);
    const QDBusReply<QDBusVariant> reply = bus().call(call, QDBus::Block, 5000);
    return !reply.isValid() || reply.value().variant().toBool();
}

bool PrivateKeyringSession::lock()
{
    QDBusMessage call = QDBusMessage::createMethodCall(secrets, QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Lock"));
    call << QVariant::fromValue(QList<QDBusObjectPath> { QDBusObjectPath(loginCollection) });
    call.setAutoStartService(false);
    const QDBusMessage reply = bus().call(call, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage && isLocked();
}

bool PrivateKeyringSession::unlock()
{
    // The password goes in a plain session of the Secret Service, through the daemon's own
    // interface for unlocking without its prompter.
    QDBusMessage open = QDBusMessage::createMethodCall(secrets, QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("OpenSession"));
    open << QStringLiteral("plain") << QVariant::fromValue(QDBusVariant(QString()));
    open.setAutoStartService(false);
    const QDBusMessage opened = bus().call(open, QDBus::Block, 5000);
    if (opened.type() != QDBusMessage::ReplyMessage || opened.arguments().size() < 2)
        return false;
    QDBusArgument secret;
    secret.beginStructure();
    secret << opened.arguments().at(1).value<QDBusObjectPath>() << QByteArray() << password().toUtf8()
           << QStringLiteral("text/plain");
    secret.endStructure();
    QDBusMessage unlock = QDBusMessage::createMethodCall(secrets, QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
        QStringLiteral("UnlockWithMasterPassword"));
    unlock << QVariant::fromValue(QDBusObjectPath(loginCollection)) << QVariant::fromValue(secret);
    unlock.setAutoStartService(false);
    const QDBusMessage unlocked = bus().call(unlock, QDBus::Block, 5000);
    return unlocked.type() == QDBusMessage::ReplyMessage && waitForKeyring(true);
}

} // namespace lumora::testing
