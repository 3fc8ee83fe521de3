#include "controlplane/ControlPlaneOptions.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

const QString defaultDatabase = QStringLiteral("sqlite:/data/control-plane.sqlite");

TEST(ControlPlaneOptions, DefaultsAndEveryOptionInBothForms)
{
    const auto defaults = ControlPlaneOptions::parse({}, defaultDatabase);
    ASSERT_TRUE(defaults.has_value());
    EXPECT_EQ(defaults->listen.text(), "127.0.0.1:8443");
    EXPECT_EQ(defaults->database, defaultDatabase);
    EXPECT_FALSE(defaults->tlsCertificate.has_value());
    EXPECT_FALSE(defaults->speechTokenSecret.has_value());
    EXPECT_FALSE(defaults->deletionRequestLifetime.has_value());
    EXPECT_FALSE(defaults->devSignIn);
    EXPECT_FALSE(defaults->publicUrl.has_value());
    EXPECT_EQ(defaults->pairing.invite, 24 * 3600);
    EXPECT_EQ(defaults->pairing.confirmation, 15 * 60);

    const auto options = ControlPlaneOptions::parse(
        { "--listen", "0.0.0.0:9000", "--database=postgresql://u@db:5432/lumora", "--tls-cert", "c.pem",
            "--tls-key=k.pem", "--public-url", "https://lumora.example.com:8443", "--speech-token-secret",
            "/etc/lumora/speech.key", "--usage-rate=live_transcription=5000", "--usage-rate",
            "final_transcription=0", "--pairing-invite-lifetime", "31536000", "--pairing-confirm-window=0",
            "--deletion-request-lifetime=86400" },
        defaultDatabase);
    ASSERT_TRUE(options.has_value()) << options.error().toStdString();
    EXPECT_EQ(options->listen.host, "0.0.0.0");
    EXPECT_EQ(options->listen.port, 9000);
    EXPECT_EQ(options->database, "postgresql://u@db:5432/lumora");
    EXPECT_EQ(options->tlsCertificate, "c.pem");
    EXPECT_EQ(options->tlsKey, "k.pem");
    EXPECT_EQ(options->publicUrl, QUrl("https://lumora.example.com:8443"));
    EXPECT_EQ(options->speechTokenSecret, "/etc/lumora/speech.key");
    EXPECT_EQ(options->usageRates,
        (std::map<QString, qint64> { { "live_transcription", 5000 }, { "final_transcription", 0 } }));
    EXPECT_EQ(options->pairing.invite, 31536000);
    EXPECT_EQ(options->pairing.confirmation, 0);
    EXPECT_EQ(options->deletionRequestLifetime, 86400);

    const auto help = ControlPlaneOptions::parse({ "--help", "--nonsense" }, defaultDatabase);
    ASSERT_TRUE(help.has_value());
    EXPECT_TRUE(help->help);
    EXPECT_TRUE(ControlPlaneOptions::parse({ "--dev-sign-in" }, defaultDatabase)->devSignIn);
    for (const char* option : { "--listen HOST:PORT", "--dev-sign-in", "--public-url URL",
             "--deletion-request-lifetime", "--pairing-confirm-window", "--speech-token-secret FILE" })
        EXPECT_TRUE(ControlPlaneOptions::helpText().contains(option)) << option;
}

TEST(ControlPlaneOptions, RefusesWhatCannotBeServedSafely)
{
    struct Case {
        QStringList arguments;
        bool accepted;
    };
    const Case cases[] = {
        { { "--listen", "0.0.0.0:8443" }, false },
        { { "--listen", "0.0.0.0:8443", "--allow-plain-http" }, true },
        { { "--listen", "[::1]:0" }, true },
        { { "--listen", "localhost:8443" }, true },
        { { "--listen", "192.168.1.4:8443", "--tls-cert", "c", "--tls-key", "k" }, true },
        { { "--tls-cert", "c" }, false },
        { { "--tls-key", "k" }, false },
        { { "--listen", "127.0.0.1:65536" }, false },
        { { "--listen", "127.0.0.1:" }, false },
        { { "--listen", "127.0.0.1:-1" }, false },
        { { "--listen", "example.com:80" }, false },
        { { "--listen", "8443" }, false },
        { { "--listen" }, false },
        { { "--database" }, false },
        { { "--dev-sign-in=yes" }, false },
        // Anyone who reaches the development sign-in becomes any account.
        { { "--listen", "192.168.1.4:8443", "--tls-cert", "c", "--tls-key", "k", "--dev-sign-in" }, false },
        { { "--listen", "0.0.0.0:8443", "--allow-plain-http", "--dev-sign-in" }, false },
        { { "--listen", "[::1]:0", "--dev-sign-in" }, true },
        { { "--public-url", "http://127.0.0.1:8443/" }, true },
        { { "--public-url", "ftp://lumora.example.com" }, false },
        { { "--public-url", "https://" }, false },
        { { "--public-url", "lumora.example.com" }, false },
        { { "--public-url", "https://lumora.example.com/base" }, false },
        { { "--public-url", "https://lumora.example.com/?x=1" }, false },
        { { "--public-url", "https://lumora.example.com/#x" }, false },
        { { "--public-url", "https://user@lumora.example.com" }, false },
        { { "--public-url" }, false },
        { { "--verbose" }, false },
        { { "--deletion-request-lifetime", "0" }, false },
        { { "--deletion-request-lifetime", "1" }, true },
        { { "--deletion-request-lifetime=a week" }, false },
        { { "--deletion-request-lifetime" }, false },
        { { "--pairing-invite-lifetime" }, false },
        { { "--speech-token-secret" }, false },
    };
    for (const Case& item : cases)
        EXPECT_EQ(ControlPlaneOptions::parse(item.arguments, defaultDatabase).has_value(), item.accepted)
            << item.arguments.join(' ').toStdString();
    for (const char* wrong : { "-1", "ten", "", "1.5", "31536001", "9223372036854775807" })
        EXPECT_FALSE(ControlPlaneOptions::parse({ "--pairing-confirm-window", wrong }, defaultDatabase))
            << wrong;
    for (const char* wrong : { "live_transcription", "=5", "live_transcription=-1", "live_transcription=x",
             "live_transcription=1000000001" })
        EXPECT_FALSE(ControlPlaneOptions::parse({ "--usage-rate", wrong }, defaultDatabase)) << wrong;
    EXPECT_TRUE(
        ControlPlaneOptions::parse({ "--usage-rate", "live_transcription=1000000000" }, defaultDatabase));
}

TEST(ControlPlaneOptions, LimitsOnWhatOneAccountCosts)
{
    const auto defaults = ControlPlaneOptions::parse({}, defaultDatabase);
    ASSERT_TRUE(defaults.has_value());
    EXPECT_EQ(defaults->limits.rates.perReservation, 30);
    EXPECT_EQ(defaults->limits.rates.perAccount, 60);
    EXPECT_EQ(defaults->limits.promptBytes, 256 * 1024);
    EXPECT_EQ(defaults->limits.storageQuota, qint64(1) << 30);

    const auto options = ControlPlaneOptions::parse(
        { "--provider-rate-per-reservation", "5", "--provider-rate-per-account=9", "--prompt-limit", "64k",
            "--storage-quota=3G" },
        defaultDatabase);
    ASSERT_TRUE(options.has_value()) << options.error().toStdString();
    EXPECT_EQ(options->limits.rates.perReservation, 5);
    EXPECT_EQ(options->limits.rates.perAccount, 9);
    EXPECT_EQ(options->limits.promptBytes, 64 * 1024);
    EXPECT_EQ(options->limits.storageQuota, qint64(3) << 30);
    EXPECT_EQ(
        ControlPlaneOptions::parse({ "--storage-quota", "0" }, defaultDatabase)->limits.storageQuota, 0);
    EXPECT_EQ(ControlPlaneOptions::parse({ "--storage-quota", "1500" }, defaultDatabase)->limits.storageQuota,
        1500);

    for (const QStringList& wrong : QList<QStringList> { { "--provider-rate-per-reservation", "0" },
             { "--provider-rate-per-account", "-3" }, { "--provider-rate-per-account", "100001" },
             { "--provider-rate-per-reservation", "many" }, { "--prompt-limit", "1K" },
             { "--prompt-limit", "" }, { "--storage-quota", "-1" }, { "--storage-quota", "1T" },
             { "--storage-quota", "5000000000G" }, { "--storage-quota", "1.5G" },
             { "--storage-quota", "1MK" }, { "--storage-quota" } })
        EXPECT_FALSE(ControlPlaneOptions::parse(wrong, defaultDatabase).has_value())
            << wrong.join(' ').toStdString();
    for (const char* option : { "--provider-rate-per-reservation N", "--provider-rate-per-account N",
             "--prompt-limit BYTES", "--storage-quota BYTES" })
        EXPECT_TRUE(ControlPlaneOptions::helpText().contains(option)) << option;
}

} // namespace
} // namespace lumora
