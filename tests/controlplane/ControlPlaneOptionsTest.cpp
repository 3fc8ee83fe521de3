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

} // namespace
} // namespace lumora
