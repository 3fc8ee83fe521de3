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
#include <QThread>
// After Qt's headers: GLib's own "signals" must not meet Qt's keyword.
#undef signals
#include <gio/gio.h>

namespace lumora::testing {
namespace {

const QString secrets = QStringLiteral("org.freedesktop.secrets");
const QString loginCollection = QStringLiteral("/org/freedesktop/secrets/collection/login");

// Every name may be owned and called; services are started from the usual folders only when
// asked (the prompter, and a keyring daemon on demand).
QByteArray busConfiguration(const QString& socketFolder, bool activation)
{
    return QByteArrayLiteral(
               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
               "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:dir=")
        + socketFolder.toUtf8() + QByteArrayLiteral("</listen><auth>EXTERNAL</auth>")
        + (activation ? QByteArrayLiteral("<standard_session_servicedirs/>") : QByteArray())
        + QByteArrayLiteral("<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
}

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace

PrivateKeyringSession::PrivateKeyringSession(Keyring keyring, const QString& display)
{
    const QString home = m_home.path();
    for (const char* folder : { ".local/share/keyrings", ".cache", "runtime", "bus" })
        QDir(home).mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(
        home + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile configuration(m_home.filePath("bus.conf"));
    if (!configuration.open(QIODevice::WriteOnly))
        return;
    configuration.write(busConfiguration(m_home.filePath("bus"), keyring != Keyring::none));
    configuration.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    environment.insert("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    environment.insert("XDG_CACHE_HOME", home + QStringLiteral("/.cache"));
    environment.insert("XDG_RUNTIME_DIR", home + QStringLiteral("/runtime"));
    environment.remove("GNOME_KEYRING_CONTROL");
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    if (display.isEmpty())
        environment.remove("DISPLAY");
    else
        environment.insert("DISPLAY", display);
    m_bus.setProcessEnvironment(environment);
    m_bus.setProcessChannelMode(QProcess::SeparateChannels);
    m_bus.start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--config-file=") + configuration.fileName(), QStringLiteral("--nofork"),
            QStringLiteral("--print-address=1") });
    if (!m_bus.waitForStarted(5000))
        return;
    const QDeadlineTimer deadline(10000);
    while (!m_bus.canReadLine() && !deadline.hasExpired())
        m_bus.waitForReadyRead(100);
    m_address = QString::fromUtf8(m_bus.readLine().trimmed());
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
    stop(m_bus);
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
    QProcessEnvironment environment = m_bus.processEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", m_address);
    daemon->setProcessEnvironment(environment);
    daemon->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon->setStandardOutputFile(QProcess::nullDevice());
    daemon->start(QStringLiteral("gnome-keyring-daemon"),
        arguments + QStringList { QStringLiteral("--foreground"), QStringLiteral("--components=secrets") });
    if (!daemon->waitForStarted(5000))
        return false;
    // Written out before the wait below, which turns no event loop.
    if (withPassword) {
        daemon->write(password().toUtf8());
        daemon->waitForBytesWritten(5000);
    }
    daemon->closeWriteChannel();
    const QDeadlineTimer deadline(10000);
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
    const QDeadlineTimer deadline(10000);
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
