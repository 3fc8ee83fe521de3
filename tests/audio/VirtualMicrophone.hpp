#pragma once

#include "AwaitTask.hpp"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace lumora::test {

inline int modeOf(const QString& path)
{
    struct stat status { };
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

// What ffprobe reads from a recording.
struct ProbedAudio {
    QString codec;
    QString profile;
    int channels = 0;
    int sampleRate = 0;
    double duration = 0;
};

inline ProbedAudio probe(const QString& path)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe",
        { "-v", "error", "-show_entries", "stream=codec_name,profile,channels,sample_rate:format=duration",
            "-of", "json", path });
    if (!ffprobe.waitForFinished(20000) || ffprobe.exitCode() != 0) {
        ADD_FAILURE() << "ffprobe failed: " << ffprobe.readAllStandardError().toStdString();
        return {};
    }
    const QJsonObject root = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
    const QJsonObject stream = root["streams"].toArray().at(0).toObject();
    return { stream["codec_name"].toString(), stream["profile"].toString(), stream["channels"].toInt(),
        stream["sample_rate"].toString().toInt(),
        root["format"].toObject()["duration"].toString().toDouble() };
}

// Collects the PCM blocks that the capture hands out on its audio thread.
class BlockLog {
public:
    std::function<void(const QByteArray&)> handler()
    {
        return [this](const QByteArray& block) {
            std::lock_guard lock(m_mutex);
            m_blocks.push_back(block);
        };
    }

    std::vector<QByteArray> blocks() const
    {
        std::lock_guard lock(m_mutex);
        return m_blocks;
    }

    qint64 totalFrames() const
    {
        qint64 frames = 0;
        for (const QByteArray& block : blocks())
            frames += block.size() / 2;
        return frames;
    }

    // Root mean square of a block's samples on the 16-bit scale.
    static double loudness(const QByteArray& block)
    {
        const qsizetype frames = block.size() / 2;
        if (frames == 0)
            return 0;
        double sum = 0;
        for (qsizetype i = 0; i < frames; ++i) {
            const auto low = static_cast<unsigned char>(block[2 * i]);
            const auto high = static_cast<unsigned char>(block[2 * i + 1]);
            const double sample = qint16(quint16(low | (high << 8)));
            sum += sample * sample;
        }
        return std::sqrt(sum / double(frames));
    }

private:
    mutable std::mutex m_mutex;
    std::vector<QByteArray> m_blocks;
};

// Records through the private sound server that scripts/with-virtual-microphone sets up: what
// is played into its virtual speaker is heard on the default microphone.
class VirtualMicrophoneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("LUMORA_TEST_MICROPHONE"))
            GTEST_SKIP() << "no virtual microphone: run under scripts/with-virtual-microphone";
        ASSERT_TRUE(m_folder.isValid());
    }

    void TearDown() override
    {
        for (auto& player : m_players)
            player->waitForFinished(20000);
    }

    [[nodiscard]] QString folder() const { return m_folder.path(); }
    [[nodiscard]] QString audioPath() const { return m_folder.filePath("recording.m4a"); }

    // Speech from espeak-ng as a WAV file, and its length in seconds.
    std::pair<QString, double> speech(const QString& text)
    {
        const QString path = m_folder.filePath(QString("speech-%1.wav").arg(m_players.size()));
        QProcess espeak;
        espeak.start("espeak-ng", { "-w", path, text });
        EXPECT_TRUE(espeak.waitForFinished(20000) && espeak.exitCode() == 0);
        QProcess soxi;
        soxi.start("soxi", { "-D", path });
        soxi.waitForFinished(20000);
        return { path, soxi.readAllStandardOutput().trimmed().toDouble() };
    }

    // Starts playing a file into the virtual speaker and returns once the sound server plays it.
    void play(const QString& wavPath)
    {
        auto player = std::make_unique<QProcess>();
        player->start("paplay", { "-d", qEnvironmentVariable("LUMORA_TEST_SPEAKER"), wavPath });
        ASSERT_TRUE(player->waitForStarted(60000));
        m_players.push_back(std::move(player));
        const bool playing = spinUntil(
            [] {
                QProcess pactl;
                pactl.start("pactl", { "list", "short", "sink-inputs" });
                pactl.waitForFinished(5000);
                return !pactl.readAllStandardOutput().trimmed().isEmpty();
            },
            60000);
        ASSERT_TRUE(playing) << "the speech did not start playing";
    }

    QTemporaryDir m_folder;
    std::vector<std::unique_ptr<QProcess>> m_players;
};

} // namespace lumora::test
