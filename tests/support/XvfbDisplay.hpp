#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace lumora::testing {

// An X display of the test's own (Xvfb), for the windows of real programs: the application's,
// and the desktop's own prompts. `name()` is empty when Xvfb is not installed or did not start.
class XvfbDisplay {
public:
    XvfbDisplay()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            return;
        m_server.setProcessChannelMode(QProcess::SeparateChannels);
        m_server.setStandardErrorFile(QProcess::nullDevice());
        // The server picks a free display and writes its number on the descriptor it is given.
        m_server.start(QStringLiteral("Xvfb"),
            { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1280x900x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp") });
        if (!m_server.waitForStarted(60000))
            return;
        const QDeadlineTimer deadline(60000);
        while (!m_server.canReadLine() && m_server.state() == QProcess::Running && !deadline.hasExpired())
            m_server.waitForReadyRead(100);
        const QByteArray number = m_server.readLine().trimmed();
        if (!number.isEmpty())
            m_name = u':' + QString::fromLatin1(number);
    }
    ~XvfbDisplay()
    {
        m_server.terminate();
        if (!m_server.waitForFinished(5000))
            m_server.kill();
        m_server.waitForFinished(5000);
    }
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    [[nodiscard]] const QString& name() const { return m_name; }

    // Runs xdotool on this display with the arguments and waits for it (at most `milliseconds`);
    // false when it is not installed or failed.
    bool xdotool(const QStringList& arguments, int milliseconds = 30000) const
    {
        if (m_name.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            return false;
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_name);
        tool.setProcessEnvironment(environment);
        tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        tool.setStandardOutputFile(QProcess::nullDevice());
        tool.start(QStringLiteral("xdotool"), arguments);
        return tool.waitForFinished(milliseconds) && tool.exitStatus() == QProcess::NormalExit
            && tool.exitCode() == 0;
    }

private:
    QProcess m_server;
    QString m_name;
};

} // namespace lumora::testing
