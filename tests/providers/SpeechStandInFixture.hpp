#pragma once

#include "ClientFixture.hpp"
#include "ControlPlaneProcess.hpp"
#include "SpeechStandInProcess.hpp"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <memory>

namespace lumora::testing {

// The real speech stand-in over TLS on 127.0.0.1, with a CA made for the test that the
// speech clients are handed (rather than trusted process-wide).
class SpeechStandInFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(certificates.valid()); }

    // Starts a stand-in with these further arguments (test hooks, a script).
    SpeechStandInProcess& startStandIn(const QStringList& arguments = {})
    {
        standIn = std::make_unique<SpeechStandInProcess>(
            QStringList {
                "--tls-cert", certificates.serverCertificate(), "--tls-key", certificates.serverKey() }
            + arguments);
        EXPECT_TRUE(standIn->started());
        EXPECT_EQ(standIn->baseUrl().scheme(), "https");
        return *standIn;
    }

    // The stand-in ran clean: it stops on SIGTERM with status 0 (sanitizer reports fail it).
    void stopStandIn()
    {
        if (standIn) {
            EXPECT_EQ(standIn->stop(), 0) << standIn->log().toStdString();
            standIn.reset();
        }
    }

    void TearDown() override { stopStandIn(); }

    QSslConfiguration tls() const
    {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(QSslCertificate::fromPath(certificates.caCertificate()));
        return configuration;
    }

    DeepgramGrant grant(std::int64_t lifetime = 300) const { return { standIn->token(lifetime), lifetime }; }

    // Two partners; the first result holds both seats, and speaker 2 shares seat 0.
    static QByteArray script()
    {
        return R"({"utterances":[
            {"speaker":0,"words":[{"word":"you","punctuated_word":"You","start":0.2,"end":0.4},
                                  {"word":"never","start":0.5,"end":0.8},
                                  {"word":"listen","punctuated_word":"listen.","start":0.9,"end":1.2},
                                  {"word":"whatever","punctuated_word":"Whatever.","start":1.5,"end":2.0,
                                   "speaker":1}]},
            {"speaker":2,"words":[{"word":"i","punctuated_word":"I","start":2.3,"end":2.4},
                                  {"word":"am","start":2.5,"end":2.6},
                                  {"word":"sorry","punctuated_word":"sorry.","start":2.7,"end":3.0}]},
            {"speaker":1,"words":[{"word":"thanks","punctuated_word":"Thanks.","start":3.3,"end":3.6}]}
        ]})";
    }

    QString scriptFile()
    {
        QFile file(scratch.filePath("script.json"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(script());
        return file.fileName();
    }

    TestCertificates certificates;
    QTemporaryDir scratch;
    std::unique_ptr<SpeechStandInProcess> standIn;
    QNetworkAccessManager manager;
};

} // namespace lumora::testing
