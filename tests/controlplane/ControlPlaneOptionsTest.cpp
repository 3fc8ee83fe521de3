#include "controlplane/ControlPlaneOptions.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

const QString defaultDatabase = QStringLiteral("sqlite:/data/control-plane.sqlite");

TEST(ControlPlaneOptions, DefaultsToLoopbackPlainHttpAndTheDefaultDatabase)
{
    const auto options = ControlPlaneOptions::parse({}, defaultDatabase);
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->listen.text(), "127.0.0.1:8443");
    EXPECT_EQ(options->database, defaultDatabase);
    EXPECT_FALSE(options->tlsCertificate.has_value());
    EXPECT_FALSE(options->devSignIn);
}

TEST(ControlPlaneOptions, ReadsEveryOptionInBothForms)
{
    const auto options
        = ControlPlaneOptions::parse({ "--listen", "0.0.0.0:9000", "--database=postgresql://u@db:5432/lumora",
                                         "--tls-cert", "c.pem", "--tls-key=k.pem", "--dev-sign-in" },
            defaultDatabase);
    ASSERT_TRUE(options.has_value()) << options.error().toStdString();
    EXPECT_EQ(options->listen.host, "0.0.0.0");
    EXPECT_EQ(options->listen.port, 9000);
    EXPECT_EQ(options->database, "postgresql://u@db:5432/lumora");
    EXPECT_EQ(options->tlsCertificate, "c.pem");
    EXPECT_EQ(options->tlsKey, "k.pem");
    EXPECT_TRUE(options->devSignIn);
    EXPECT_FALSE(options->deletionRequestLifetime.has_value());
    EXPECT_EQ(ControlPlaneOptions::parse({ "--deletion-request-lifetime=86400" }, defaultDatabase)
                  ->deletionRequestLifetime,
        86400);
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
        { { "--deletion-request-lifetime", "0" }, false },
        { { "--deletion-request-lifetime=a week" }, false },
        { { "--deletion-request-lifetime" }, false },
        { { "--deletion-request-lifetime", "1" }, true },
        { { "--verbose" }, false },
    };
    for (const Case& item : cases) {
        const auto options = ControlPlaneOptions::parse(item.arguments, defaultDatabase);
        EXPECT_EQ(options.has_value(), item.accepted) << item.arguments.join(' ').toStdString();
    }
}

TEST(ControlPlaneOptions, HelpStopsParsing)
{
    const auto options = ControlPlaneOptions::parse({ "--help", "--nonsense" }, defaultDatabase);
    ASSERT_TRUE(options.has_value());
    EXPECT_TRUE(options->help);
    EXPECT_TRUE(ControlPlaneOptions::helpText().contains("--dev-sign-in"));
    EXPECT_TRUE(ControlPlaneOptions::helpText().contains("--deletion-request-lifetime"));
}

TEST(ControlPlaneOptions, PairingLifetimesAreWholeSecondsFromZero)
{
    const auto defaults = ControlPlaneOptions::parse({}, defaultDatabase);
    ASSERT_TRUE(defaults.has_value());
    EXPECT_EQ(defaults->pairing.invite, 24 * 3600);
    EXPECT_EQ(defaults->pairing.confirmation, 15 * 60);
    const auto set = ControlPlaneOptions::parse(
        { "--pairing-invite-lifetime", "31536000", "--pairing-confirm-window=0" }, defaultDatabase);
    ASSERT_TRUE(set.has_value()) << set.error().toStdString();
    EXPECT_EQ(set->pairing.invite, 31536000);
    EXPECT_EQ(set->pairing.confirmation, 0);
    for (const char* wrong : { "-1", "ten", "", "1.5", "31536001", "9223372036854775807" })
        EXPECT_FALSE(ControlPlaneOptions::parse({ "--pairing-confirm-window", wrong }, defaultDatabase))
            << wrong;
    EXPECT_FALSE(ControlPlaneOptions::parse({ "--pairing-invite-lifetime" }, defaultDatabase));
    EXPECT_TRUE(ControlPlaneOptions::helpText().contains("--pairing-confirm-window"));
}

} // namespace
} // namespace lumora
