#include "ControlPlaneProcess.hpp"
#include "controlplane/ControlPlaneOptions.hpp"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace lumora {
namespace {

TEST(ConversationOptions, SpeechTokenSecretAndUsageRates)
{
    const auto options = ControlPlaneOptions::parse(
        { "--speech-token-secret", "/etc/lumora/speech.key", "--usage-rate=live_transcription=5000",
            "--usage-rate", "final_transcription=0" },
        "sqlite:x");
    ASSERT_TRUE(options.has_value()) << options.error().toStdString();
    EXPECT_EQ(options->speechTokenSecret, "/etc/lumora/speech.key");
    EXPECT_EQ(options->usageRates,
        (std::map<QString, qint64> { { "live_transcription", 5000 }, { "final_transcription", 0 } }));
    EXPECT_FALSE(ControlPlaneOptions::parse({}, "sqlite:x")->speechTokenSecret.has_value());

    for (const char* bad : { "live_transcription", "=5", "live_transcription=-1", "live_transcription=x",
             "live_transcription=1000000001" })
        EXPECT_FALSE(ControlPlaneOptions::parse({ "--usage-rate", bad }, "sqlite:x").has_value()) << bad;
    EXPECT_FALSE(ControlPlaneOptions::parse({ "--speech-token-secret" }, "sqlite:x").has_value());
    EXPECT_TRUE(ControlPlaneOptions::helpText().contains("--speech-token-secret FILE"));
}

TEST(ConversationOptions, AShortOrMissingSecretFileStopsTheStart)
{
    const QTemporaryDir dir;
    QFile shortSecret(dir.filePath("short.key"));
    ASSERT_TRUE(shortSecret.open(QIODevice::WriteOnly));
    shortSecret.write("too short\n");
    shortSecret.close();
    for (const QString& file : { shortSecret.fileName(), dir.filePath("missing.key") }) {
        const auto [code, message] = testing::ControlPlaneProcess::runToEnd({ "--listen", "127.0.0.1:0",
            "--database", "sqlite:" + dir.filePath("cp.sqlite"), "--speech-token-secret", file });
        EXPECT_EQ(code, 1);
        EXPECT_TRUE(message.contains("speech token secret")) << message.toStdString();
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("cp.sqlite")));
}

} // namespace
} // namespace lumora
