#include "PrivateSessionBus.hpp"

#include <QDeadlineTimer>
#include <QFile>

namespace lumora::testing {
namespace {

QByteArray configuration(const QString& socketFolder, const QStringList& serviceFolders)
{
    QByteArray services;
    for (const QString& folder : serviceFolders)
        services += "<servicedir>" + folder.toHtmlEscaped().toUtf8() + "</servicedir>";
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:dir="
        + socketFolder.toHtmlEscaped().toUtf8() + "</listen><auth>EXTERNAL</auth>" + services
        + "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
          "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
}

} // namespace

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

PrivateSessionBus::PrivateSessionBus(
    const QStringList& serviceFolders, const QProcessEnvironment& environment)
{
    QFile file(m_folder.filePath(QStringLiteral("bus.conf")));
    if (!m_folder.isValid() || !file.open(QIODevice::WriteOnly))
        return;
    file.write(configuration(m_folder.path(), serviceFolders));
    file.close();
    m_daemon.setProcessEnvironment(environment);
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--config-file=") + file.fileName(), QStringLiteral("--nofork"),
            QStringLiteral("--print-address=1") });
    if (!m_daemon.waitForStarted(60000))
        return;
    const QDeadlineTimer deadline(60000);
    while (!m_daemon.canReadLine() && m_daemon.state() == QProcess::Running && !deadline.hasExpired())
        m_daemon.waitForReadyRead(100);
    m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
}

PrivateSessionBus::~PrivateSessionBus()
{
    for (const QString& name : std::as_const(m_connections))
        QDBusConnection::disconnectFromBus(name);
    stop(m_daemon);
}

QDBusConnection PrivateSessionBus::connect(const QString& name)
{
    m_connections.append(name);
    return QDBusConnection::connectToBus(m_address, name);
}

} // namespace lumora::testing
