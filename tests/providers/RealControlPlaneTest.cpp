#include "ClientFixture.hpp"
#include "ControlPlaneProcess.hpp"
#include "providers/ControlPlaneBootstrap.hpp"
#include "security/RequestSigner.hpp"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrlQuery>

namespace lumora {
namespace {

using testing::await;
using testing::ControlPlaneProcess;
using testing::failureOf;
using testing::sendRequest;
using testing::TestCertificates;

ControlPlaneFailure refusal(const char* code)
{
    return ControlPlaneError::rejectedWithCode(401, QString::fromLatin1(code));
}

// The client against the real control plane over HTTPS, with a CA made for the test.
class RealControlPlaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(certificates.valid());
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(QSslCertificate::fromPath(certificates.caCertificate()));
        QSslConfiguration::setDefaultConfiguration(tls);
        server = std::make_unique<ControlPlaneProcess>(QStringList { "--dev-sign-in", "--tls-cert",
            certificates.serverCertificate(), "--tls-key", certificates.serverKey() });
        ASSERT_TRUE(server->started());
        base = server->baseUrl();
        ASSERT_EQ(base.scheme(), "https");
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
        const auto page = await(ControlPlaneBootstrap::beginWebAppleAuthorization(base, device, manager));
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

        const auto registration
            = await(ControlPlaneBootstrap::completeWebAppleAuthorization(base, ticket, manager));
        EXPECT_TRUE(registration.has_value());
        return registration.value_or(DeviceRegistration {});
    }

    TestCertificates certificates;
    std::unique_ptr<ControlPlaneProcess> server;
    QUrl base;
    QNetworkAccessManager manager;
    DeviceIdentity identity = testing::newIdentity();
};

TEST_F(RealControlPlaneTest, SignsInAndMakesEveryAccountCall)
{
    const DeviceRegistration registration = signIn(identity, "Ada & Bob's account");
    const ControlPlaneClient client(base, registration.deviceID, identity, manager);

    EXPECT_EQ(await(client.accountState()), (AccountState { registration.accountID, registration.deviceID }));
    const auto draft = await(client.createConversationSession());
    ASSERT_TRUE(draft.has_value());
    EXPECT_EQ(draft->status, "draft");
    EXPECT_EQ(await(client.currentConversationSession()), *draft);
    EXPECT_TRUE(await(client.reportDiagnostic(DiagnosticEventType::uncleanTermination, "observed")));
    EXPECT_TRUE(await(client.reportProductEvent(ProductAnalyticsEvent::resultReviewed, "0.1.0 (1)")));

    // The same key recovers the same registration.
    EXPECT_EQ(await(ControlPlaneBootstrap::recoverRegisteredDevice(base, identity, manager)), registration);

    // A second computer of the same account, revoked by the first.
    const DeviceIdentity laptop = testing::newIdentity();
    const DeviceRegistration second = signIn(laptop, "Ada & Bob's account");
    EXPECT_EQ(second.accountID, registration.accountID);
    const ControlPlaneClient laptopClient(base, second.deviceID, laptop, manager);
    EXPECT_TRUE(await(laptopClient.accountState()));
    EXPECT_TRUE(await(client.revoke(second.deviceID)));
    EXPECT_EQ(failureOf(await(laptopClient.accountState())), refusal("device_revoked"));

    // Deleting the account locks out its devices; its key no longer recovers anything.
    EXPECT_TRUE(await(client.deleteAccount()));
    EXPECT_EQ(failureOf(await(client.accountState())), refusal("unknown_device"));
    const auto recovered = await(ControlPlaneBootstrap::recoverRegisteredDevice(base, identity, manager));
    ASSERT_TRUE(recovered.has_value());
    EXPECT_FALSE(recovered->has_value());
}

TEST_F(RealControlPlaneTest, ForgedStaleAndReplayedRequestsAreRefused)
{
    const DeviceRegistration registration = signIn(identity, "Ada");

    const ControlPlaneClient forger(base, registration.deviceID, testing::newIdentity(), manager);
    EXPECT_EQ(failureOf(await(forger.accountState())), refusal("invalid_signature"));

    const ControlPlaneClient slowClock(base, registration.deviceID, identity, manager,
        [] { return QDateTime::currentDateTimeUtc().addSecs(-301); });
    EXPECT_EQ(failureOf(await(slowClock.accountState())), refusal("stale_timestamp"));

    const auto headers = RequestSigner::sign(identity, registration.deviceID, u"GET", u"/v1/account/state",
        {}, QDateTime::currentDateTimeUtc(), QUuid::createUuid());
    ASSERT_TRUE(headers.has_value());
    const QList<std::pair<QByteArray, QByteArray>> authorization { { "Authorization",
        headers->authorization().toLatin1() } };
    const QUrl state = base.resolved(QUrl("/v1/account/state"));
    EXPECT_EQ(sendRequest(manager, "GET", state, {}, authorization).status, 200);
    const auto replay = sendRequest(manager, "GET", state, {}, authorization);
    EXPECT_EQ(replay.status, 401);
    EXPECT_EQ(replay.body, R"({"error":"replayed_nonce"})");
}

TEST_F(RealControlPlaneTest, RecoveryOfAnUnknownKeyIsNoRegistration)
{
    const auto recovered = await(ControlPlaneBootstrap::recoverRegisteredDevice(base, identity, manager));
    ASSERT_TRUE(recovered.has_value());
    EXPECT_FALSE(recovered->has_value());
    // The identity-token registration has no provider behind the development control plane.
    EXPECT_EQ(
        failureOf(await(ControlPlaneBootstrap::registerDevice(base, "token", identity, "macos", manager))),
        ControlPlaneFailure(ControlPlaneError::rejected(503)));
}

} // namespace
} // namespace lumora
