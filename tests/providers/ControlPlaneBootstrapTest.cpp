#include "providers/ControlPlaneBootstrap.hpp"

#include "ClientFixture.hpp"
#include "security/RecoveryRequestHeaders.hpp"
#include "security/RequestSigner.hpp"

#include <QJsonDocument>
#include <QJsonObject>
#include <functional>

namespace lumora {
namespace {

using testing::failureOf;
using testing::isDecodeError;
using testing::ScriptedServer;
using Bootstrap = ControlPlaneBootstrap;

const QByteArray registrationBody = R"({"account_id":"0A1B2C3D-0000-4000-8000-00000000000A",)"
                                    R"("device_id":"0a1b2c3d-0000-4000-8000-00000000000b","extra":[1]})";

QJsonObject bodyOf(const ScriptedServer& server, int index = 0)
{
    return QJsonDocument::fromJson(server.requests().value(index).body).object();
}

using ControlPlaneBootstrapTest = testing::ScriptedClientTest;

// Recovery and the ticket's redemption prove that the caller holds the key.
TEST_F(ControlPlaneBootstrapTest, RecoveryAndRedemptionAreSignedOverTheBarePathAndTheSentBody)
{
    struct Case {
        const char* path;
        QJsonObject body;
        std::function<bool(const QUrl&)> call;
    };
    const std::vector<Case> cases {
        { "/v1/auth/device/recover", { { "device_public_key", identity.publicKeyBase64URL() } },
            [&](const QUrl& base) {
                const auto found
                    = test::awaitTask(Bootstrap::recoverRegisteredDevice(base, identity, manager));
                return found.has_value() && found->has_value()
                    && (*found)->deviceID
                    == QUuid::fromString(QStringLiteral("0a1b2c3d-0000-4000-8000-00000000000b"));
            } },
        { "/v1/auth/apple/web/complete", { { "ticket", "t-1" }, { "state", "s-1" } },
            [&](const QUrl& base) {
                const auto registered = test::awaitTask(
                    Bootstrap::completeWebAppleAuthorization(base, "t-1", "s-1", identity, manager));
                return registered.has_value()
                    && registered->deviceID
                    == QUuid::fromString(QStringLiteral("0a1b2c3d-0000-4000-8000-00000000000b"));
            } },
    };
    for (const Case& c : cases) {
        ScriptedServer server(200, registrationBody);
        QUrl base = server.baseUrl();
        base.setPath("/api");
        EXPECT_TRUE(c.call(base)) << c.path;

        const auto& request = server.requests().at(0);
        EXPECT_EQ(request.target, QByteArray("/api") + c.path);
        EXPECT_EQ(bodyOf(server), c.body) << c.path;
        const auto headers
            = RecoveryRequestHeaders::fromAuthorization(QString::fromLatin1(request.header("Authorization")));
        ASSERT_TRUE(headers.has_value()) << c.path;
        const QByteArray canonical = RequestSigner::canonical(
            u"POST", QString::fromLatin1(c.path), headers->timestamp, headers->nonce, request.body);
        EXPECT_TRUE(
            RequestSigner::isValidSignature(identity.publicKeyBase64URL(), headers->signature, canonical))
            << c.path;
    }
}

TEST_F(ControlPlaneBootstrapTest,
    RefusalsAreRejectedWithTheServersCodeWhereTheyBearOneAndRecovery401IsNoRegistration)
{
    testing::LogCapture log;
    {
        ScriptedServer server(401, R"({"error":"unknown_device"})");
        const auto none
            = test::awaitTask(Bootstrap::recoverRegisteredDevice(server.baseUrl(), identity, manager));
        ASSERT_TRUE(none.has_value());
        EXPECT_FALSE(none->has_value());
    }
    ScriptedServer forbidden(403, R"({"error":"forbidden"})");
    EXPECT_EQ(failureOf(test::awaitTask(
                  Bootstrap::recoverRegisteredDevice(forbidden.baseUrl(), identity, manager))),
        ControlPlaneFailure(ControlPlaneError::rejected(403)));
    // The calls before a registration bring the server's code along, so that the window can
    // tell a server that offers no sign-in.
    ScriptedServer refusing(401, R"({"error":"apple_sign_in_not_configured"})");
    const QUrl base = refusing.baseUrl();
    const ControlPlaneFailure rejected401
        = ControlPlaneError::rejectedWithCode(401, QStringLiteral("apple_sign_in_not_configured"));
    EXPECT_EQ(failureOf(test::awaitTask(Bootstrap::beginWebAppleAuthorization(base, identity, "s", manager))),
        rejected401);
    EXPECT_EQ(failureOf(test::awaitTask(
                  Bootstrap::completeWebAppleAuthorization(base, "t", "s", identity, manager))),
        rejected401);
    EXPECT_EQ(failureOf(test::awaitTask(Bootstrap::registerDevice(base, "t", identity, "macos", manager))),
        rejected401);
    EXPECT_TRUE(log.lines().isEmpty());
    for (const auto& request : refusing.requests())
        EXPECT_EQ(request.hasHeader("Authorization"), request.target == "/v1/auth/apple/web/complete")
            << request.target.toStdString();
}

TEST_F(ControlPlaneBootstrapTest, StartAndRegistrationSendTheirKeysAndReadOnlyWellFormedReplies)
{
    ScriptedServer started(200, R"({"authorization_url":"https://appleid.apple.com/auth/authorize?x=1"})");
    const QString state = Bootstrap::newState();
    EXPECT_EQ(state.size(), 43) << "32 random bytes";
    EXPECT_NE(Bootstrap::newState(), state);
    EXPECT_EQ(
        test::awaitTask(Bootstrap::beginWebAppleAuthorization(started.baseUrl(), identity, state, manager)),
        QUrl("https://appleid.apple.com/auth/authorize?x=1"));
    EXPECT_EQ(bodyOf(started),
        (QJsonObject { { "device_public_key", identity.publicKeyBase64URL() }, { "platform", "macos" },
            { "state", state } }));
    ScriptedServer registered(200, registrationBody);
    EXPECT_TRUE(test::awaitTask(
        Bootstrap::registerDevice(registered.baseUrl(), "token", identity, "linux", manager)));
    EXPECT_EQ(bodyOf(registered),
        (QJsonObject { { "identity_token", "token" }, { "device_public_key", identity.publicKeyBase64URL() },
            { "platform", "linux" } }));

    // Field names instead of the control plane's keys, an empty or unusable address, no body.
    for (const QByteArray& body : { QByteArray(R"({"authorizationURL":"https://a.example/"})"),
             QByteArray(R"({"authorization_url":""})"),
             QByteArray(R"({"authorization_url":"http://a b/"})") }) {
        ScriptedServer server(200, body);
        EXPECT_TRUE(isDecodeError(
            test::awaitTask(Bootstrap::beginWebAppleAuthorization(server.baseUrl(), identity, "s", manager))))
            << body.toStdString();
    }
    ScriptedServer empty(204, "", "");
    EXPECT_TRUE(isDecodeError(test::awaitTask(
        Bootstrap::completeWebAppleAuthorization(empty.baseUrl(), "t", "s", identity, manager))));
}

} // namespace
} // namespace lumora
