#include "SpeechStandInProcess.hpp"

#include "common/SpeechToken.hpp"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QUuid>

namespace lumora::testing {

SpeechStandInProcess::SpeechStandInProcess(QStringList arguments)
{
    if (!arguments.contains(QStringLiteral("--speech-token-secret")))
        arguments << QStringLiteral("--speech-token-secret") << writeFile("speech.secret", secret);
    if (!arguments.contains(QStringLiteral("--listen")))
        arguments << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0");
    arguments << QStringLiteral("--frame-log") << m_dir.filePath("frames.log");
    m_process.start(QStringLiteral(LUMORA_SPEECH_STANDIN_EXECUTABLE), arguments);
    const QDeadlineTimer deadline(10000);
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

SpeechStandInProcess::~SpeechStandInProcess()
{
    stop();
}

QString SpeechStandInProcess::token(std::int64_t lifetime, const QString& otherSecret) const
{
    const std::string key = otherSecret.isEmpty() ? std::string(secret) : otherSecret.toStdString();
    const auto reservation = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    return QString::fromStdString(
        speechtoken::make(key, { reservation, QDateTime::currentSecsSinceEpoch() + lifetime }));
}

QStringList SpeechStandInProcess::frames() const
{
    QFile file(m_dir.filePath("frames.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

int SpeechStandInProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString SpeechStandInProcess::log()
{
    m_log += QString::fromUtf8(m_process.readAllStandardError());
    return m_log;
}

QString SpeechStandInProcess::writeFile(const QString& name, const QByteArray& text) const
{
    QFile file(m_dir.filePath(name));
    if (file.open(QIODevice::WriteOnly)) {
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write(text);
    }
    return file.fileName();
}

bool makeM4a(const QString& path, double seconds)
{
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    ffmpeg.start(QStringLiteral("ffmpeg"),
        { "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
            QStringLiteral("sine=frequency=440:sample_rate=16000:duration=%1").arg(seconds), "-ac", "1",
            "-c:a", "aac", path });
    return ffmpeg.waitForFinished(30000) && ffmpeg.exitStatus() == QProcess::NormalExit
        && ffmpeg.exitCode() == 0;
}

} // namespace lumora::testing
