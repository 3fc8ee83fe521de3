#include "SpeechStandInProcess.hpp"

#include "common/SpeechToken.hpp"

#include <QDateTime>
#include <QFile>
#include <QUuid>

namespace lumora::testing {

SpeechStandInProcess::SpeechStandInProcess(QStringList arguments, int descriptorLimit)
{
    if (descriptorLimit > 0)
        limitDescriptors(descriptorLimit);
    if (!arguments.contains(QStringLiteral("--speech-token-secret")))
        arguments << QStringLiteral("--speech-token-secret") << writeFile("speech.secret", secret);
    arguments << QStringLiteral("--frame-log") << filePath("frames.log");
    start(QStringLiteral(LUMORA_SPEECH_STANDIN_EXECUTABLE), std::move(arguments));
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
    QFile file(filePath("frames.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QString SpeechStandInProcess::writeFile(const QString& name, const QByteArray& text) const
{
    QFile file(filePath(name));
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
