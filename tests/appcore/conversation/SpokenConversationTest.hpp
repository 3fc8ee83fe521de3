#pragma once

// clang-format off
// First: this header names gtest's ::testing as "testing" from inside namespace lumora, which
// the harness headers below would shadow with lumora::testing.
#include "VirtualMicrophone.hpp"
// clang-format on

#include "AwaitTask.hpp"
#include "ControlPlaneProcess.hpp"
#include "DevelopmentSignIn.hpp"
#include "SpeechStandInProcess.hpp"
#include "providers/ControlPlaneBootstrap.hpp"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrlQuery>
#include <memory>
#include <span>

namespace lumora::test {

// One line of a conversation: the seat that says it and the espeak-ng voice it is spoken in.
struct SpokenLine {
    qint64 speaker;
    const char* voice;
    const char* text;
};

// The speech file of each line, the second of the recording at which it plays, and the
// stand-in's script of what it "hears" then: the line's words spread over its sound.
struct ScriptedConversation {
    QStringList files;
    QList<double> startTimes;
    QString scriptPath;
    double endsAt = 0;
};

inline ScriptedConversation synthesize(
    const QString& folder, std::span<const SpokenLine> lines, double firstLineAt, double pauseBetweenLines)
{
    ScriptedConversation scripted;
    QJsonArray utterances;
    double at = firstLineAt;
    for (const SpokenLine& line : lines) {
        const QString path = QDir(folder).filePath(QStringLiteral("line-%1.wav").arg(scripted.files.size()));
        QProcess espeak;
        espeak.start("espeak-ng", { "-v", line.voice, "-w", path, line.text });
        EXPECT_TRUE(espeak.waitForFinished(20000) && espeak.exitCode() == 0) << line.text;
        QProcess soxi;
        soxi.start("soxi", { "-D", path });
        soxi.waitForFinished(20000);
        const double length = soxi.readAllStandardOutput().trimmed().toDouble();
        EXPECT_GT(length, 0.5) << line.text;

        const QStringList tokens = QString::fromLatin1(line.text).split(u' ');
        const double step = (length - 0.2) / double(tokens.size());
        QJsonArray words;
        for (qsizetype i = 0; i < tokens.size(); ++i) {
            const QString bare = tokens[i].toLower().remove(QRegularExpression(QStringLiteral("[^a-z']")));
            words.append(QJsonObject { { "word", bare }, { "punctuated_word", tokens[i] },
                { "start", at + 0.1 + double(i) * step }, { "end", at + 0.1 + double(i + 1) * step } });
        }
        utterances.append(QJsonObject { { "speaker", line.speaker }, { "words", words } });
        scripted.files.append(path);
        scripted.startTimes.append(at);
        at += length + pauseBetweenLines;
    }
    scripted.endsAt = at;
    scripted.scriptPath = QDir(folder).filePath("script.json");
    QFile script(scripted.scriptPath);
    EXPECT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QJsonDocument(QJsonObject { { "utterances", utterances } }).toJson());
    return scripted;
}

// One line the stand-in "hears" without anything spoken aloud: its seat, when it is heard in
// the recording and its words.
struct HeardLine {
    qint64 speaker;
    double start;
    double end;
    QString text;
};

// The stand-in's script of lines that are heard but not spoken, each line's words spread evenly
// over its time.
inline ScriptedConversation quietScript(const QString& folder, std::span<const HeardLine> lines)
{
    ScriptedConversation scripted;
    QJsonArray utterances;
    for (const HeardLine& line : lines) {
        const QStringList tokens = line.text.split(u' ');
        const double step = (line.end - line.start) / double(tokens.size());
        QJsonArray spoken;
        for (qsizetype i = 0; i < tokens.size(); ++i) {
            const QString bare = tokens[i].toLower().remove(QRegularExpression(QStringLiteral("[^a-z']")));
            spoken.append(QJsonObject { { "word", bare }, { "punctuated_word", tokens[i] },
                { "start", line.start + step * double(i) }, { "end", line.start + step * double(i + 1) } });
        }
        utterances.append(QJsonObject { { "speaker", line.speaker }, { "words", spoken } });
        scripted.startTimes.append(line.start);
        scripted.endsAt = std::max(scripted.endsAt, line.end);
    }
    scripted.scriptPath = QDir(folder).filePath("script.json");
    QFile script(scripted.scriptPath);
    EXPECT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QJsonDocument(QJsonObject { { "utterances", utterances } }).toJson());
    return scripted;
}

// `count` utterances of `words`, seats taking turns, one every `every` seconds from `firstAt`,
// each heard over the first 80 % of its slot; nothing is spoken aloud.
inline ScriptedConversation quietScript(
    const QString& folder, int count, double firstAt, double every, const QString& words)
{
    QList<HeardLine> lines;
    for (int n = 0; n < count; ++n) {
        const double at = firstAt + every * n;
        lines.append({ n % 2, at, at + every * 0.8, words });
    }
    ScriptedConversation scripted = quietScript(folder, lines);
    scripted.endsAt = firstAt + every * count;
    return scripted;
}

// A spoken conversation with real parts only: the control plane and the speech stand-in as
// processes on loopback TLS (the stand-in transcribes the lines' script), and the virtual
// microphone that plays the lines.
class SpokenConversationTest : public VirtualMicrophoneTest {
protected:
    SpokenConversationTest(std::span<const SpokenLine> lines, double firstLineAt, double pauseBetweenLines)
        : m_lines(lines)
        , m_firstLineAt(firstLineAt)
        , m_pauseBetweenLines(pauseBetweenLines)
    {
    }

    void SetUp() override
    {
        VirtualMicrophoneTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(certificates.valid());
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(QSslCertificate::fromPath(certificates.caCertificate()));
        QSslConfiguration::setDefaultConfiguration(tls);

        scripted = script();
        const QStringList serverTls { "--tls-cert", certificates.serverCertificate(), "--tls-key",
            certificates.serverKey() };
        speech = std::make_unique<lumora::testing::SpeechStandInProcess>(
            QStringList { "--script", scripted.scriptPath } + serverTls + extraSpeechArguments());
        ASSERT_TRUE(speech->started()) << speech->log().toStdString();
        // Speech tokens of the control plane are checked by the stand-in with the same secret.
        controlPlane = std::make_unique<lumora::testing::ControlPlaneProcess>(
            QStringList { "--dev-sign-in", "--speech-token-secret", speech->secretPath() } + serverTls
            + extraControlPlaneArguments());
        ASSERT_TRUE(controlPlane->started()) << controlPlane->log().toStdString();
    }

    void TearDown() override
    {
        VirtualMicrophoneTest::TearDown();
        if (speech) {
            EXPECT_EQ(speech->stop(), 0) << speech->log().toStdString();
        }
        if (controlPlane) {
            EXPECT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
        }
    }

    // What the stand-in hears: the spoken lines, unless a test scripts its own.
    virtual ScriptedConversation script()
    {
        return synthesize(folder(), m_lines, m_firstLineAt, m_pauseBetweenLines);
    }

    // Further arguments for the control plane and the speech stand-in (its test hooks), for
    // tests that need more of them.
    virtual QStringList extraControlPlaneArguments() { return {}; }
    virtual QStringList extraSpeechArguments() { return {}; }

    // The development sign-in, as a person completes it in the browser.
    DeviceRegistration signIn(const DeviceIdentity& device)
    {
        return lumora::testing::developmentSignIn(manager, controlPlane->baseUrl(), device, "Ada and Bob");
    }

    lumora::testing::TestCertificates certificates;
    ScriptedConversation scripted;
    std::unique_ptr<lumora::testing::SpeechStandInProcess> speech;
    std::unique_ptr<lumora::testing::ControlPlaneProcess> controlPlane;
    QNetworkAccessManager manager;

private:
    std::span<const SpokenLine> m_lines;
    double m_firstLineAt;
    double m_pauseBetweenLines;
};

} // namespace lumora::test
