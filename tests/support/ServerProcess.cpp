#include "ServerProcess.hpp"

#include <QDeadlineTimer>
#include <sys/resource.h>

namespace lumora::testing {

ServerProcess::~ServerProcess()
{
    stop();
}

void ServerProcess::start(const QString& program, QStringList arguments)
{
    if (!arguments.contains(QStringLiteral("--listen")))
        arguments << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0");
    m_process.start(program, arguments);
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        if (!m_process.canReadLine()
            && !m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            continue;
        const QByteArray output = m_process.readLine().trimmed();
        if (output.startsWith("listening on ")) {
            m_baseUrl = QUrl(QString::fromUtf8(output.mid(13)));
            return;
        }
    }
}

void ServerProcess::limitDescriptors(int descriptors)
{
    m_process.setChildProcessModifier([descriptors] {
        const rlimit limit { static_cast<rlim_t>(descriptors), static_cast<rlim_t>(descriptors) };
        ::setrlimit(RLIMIT_NOFILE, &limit);
    });
}

int ServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    m_process.terminate();
    if (!m_process.waitForFinished(60000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

void ServerProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(10000);
}

QString ServerProcess::log()
{
    m_log += QString::fromUtf8(m_process.readAllStandardError());
    return m_log;
}

} // namespace lumora::testing
