#pragma once

#include "ClientFixture.hpp"
#include "ControlPlaneProcess.hpp"
#include "providers/ControlPlaneBootstrap.hpp"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QUrlQuery>

namespace lumora::testing {

// The client against the real control plane over HTTPS, with a CA made for the test.
class RealControlPlaneFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(certificates.valid());
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(QSslCertificate::fromPath(certificates.caCertificate()));
        QSslConfiguration::setDefaultConfiguration(tls);
        server = std::make_unique<ControlPlaneProcess>(
            QStringList { "--dev-sign-in", "--tls-cert", certificates.serverCertificate(), "--tls-key",
                certificates.serverKey() }
            + extraServerArguments());
        ASSERT_TRUE(server->started());
        base = server->baseUrl();
        ASSERT_EQ(base.scheme(), "https");
    }

    // Further arguments for the server, for tests that need more of it.
    virtual QStringList extraServerArguments() const { return {}; }

    // The arguments that give the server a speech token secret, written owner-only to
    // "speech.secret" in `folder`, so that it grants the speech credential.
    static QStringList speechTokenSecret(const QTemporaryDir& folder,
        const QByteArray& secret = "a speech token secret of the test, long enough\n")
    {
        QFile file(folder.filePath("speech.secret"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write(secret);
        return { "--speech-token-secret", file.fileName() };
    }

    // The server ran clean: it stops on SIGTERM with status 0 (sanitizer reports fail it).
    void TearDown() override
    {
        if (server) {
            EXPECT_EQ(server->stop(), 0) << server->log().toStdString();
        }
    }

    // Start, the development page, its callback ticket and completion, as a person would.
    DeviceRegistration signIn(const DeviceIdentity& device, const QString& name)
    {
        const QString state = ControlPlaneBootstrap::newState();
        const auto page = test::awaitTask(
            ControlPlaneBootstrap::beginWebAppleAuthorization(base, device, state, manager));
        EXPECT_TRUE(page.has_value());
        if (!page)
            return {};
        EXPECT_EQ(page->path(), "/dev/sign-in");
        const auto form = sendRequest(manager, "GET", *page);
        EXPECT_EQ(form.status, 200);
        EXPECT_TRUE(form.header("Content-Type").startsWith("text/html"));
        const QString requestID = QUrlQuery(*page).queryItemValue("request");
        EXPECT_TRUE(form.body.contains(requestID.toLatin1()));

        QUrlQuery fields;
        fields.addQueryItem("request", requestID);
        fields.addQueryItem("name", name);
        const auto submitted = sendRequest(manager, "POST", base.resolved(QUrl("/dev/sign-in")),
            fields.toString(QUrl::FullyEncoded).toUtf8(),
            { { "Content-Type", "application/x-www-form-urlencoded" } });
        EXPECT_EQ(submitted.status, 302);
        const QUrl callback(QString::fromLatin1(submitted.header("Location")));
        EXPECT_EQ(callback.scheme(), "lumora");
        EXPECT_EQ(callback.host(), "apple-auth");
        const QString ticket = QUrlQuery(callback).queryItemValue("ticket");
        EXPECT_EQ(QUrlQuery(callback).queryItemValue("state"), state) << "the callback brings the state back";

        const auto registration = test::awaitTask(
            ControlPlaneBootstrap::completeWebAppleAuthorization(base, ticket, state, device, manager));
        EXPECT_TRUE(registration.has_value());
        return registration.value_or(DeviceRegistration {});
    }

    TestCertificates certificates;
    std::unique_ptr<ControlPlaneProcess> server;
    QUrl base;
    QNetworkAccessManager manager;
    DeviceIdentity identity = testing::newIdentity();
};

} // namespace lumora::testing
