#include "ServiceFixture.hpp"

#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::bodyOf;
using testing::ControlPlaneServiceTest;

const QString somePublicKey = testing::newIdentity().publicKeyBase64URL();

TEST_F(ControlPlaneServiceTest, DevelopmentSignInRegistersTheKeyUnderTheNamedAccount)
{
    const QString ticket = ticketFor(somePublicKey, "Ada Lovelace");
    const HttpResponse complete = sendJson("/v1/auth/apple/web/complete", { { "ticket", ticket } });
    ASSERT_EQ(complete.status, 200) << complete.body;
    const QJsonObject registration = bodyOf(complete);
    const QUuid deviceID = QUuid::fromString(registration.value("device_id").toString());
    const auto device = store->device(deviceID);
    ASSERT_TRUE(device.has_value());
    EXPECT_EQ(device->publicKey, somePublicKey);
    EXPECT_EQ(device->accountID, QUuid::fromString(registration.value("account_id").toString()));

    // A ticket is redeemed once.
    const HttpResponse again = sendJson("/v1/auth/apple/web/complete", { { "ticket", ticket } });
    EXPECT_EQ(again.status, 400);
    EXPECT_EQ(bodyOf(again).value("error"), "invalid_ticket");
}

TEST_F(ControlPlaneServiceTest, TicketsLapseAfterTenMinutes)
{
    const QString onTime = ticketFor(somePublicKey, "Ada");
    const QString late = ticketFor(somePublicKey, "Ada");
    now += ControlPlaneService::signInLifetime;
    EXPECT_EQ(sendJson("/v1/auth/apple/web/complete", { { "ticket", onTime } }).status, 200);
    now += 1;
    const HttpResponse expired = sendJson("/v1/auth/apple/web/complete", { { "ticket", late } });
    EXPECT_EQ(expired.status, 400);
    EXPECT_EQ(bodyOf(expired).value("error"), "ticket_expired");
}

TEST_F(ControlPlaneServiceTest, SignInPageIsUsedOnce)
{
    const HttpResponse start = sendJson(
        "/v1/auth/apple/web/start", { { "device_public_key", somePublicKey }, { "platform", "macos" } });
    const QString requestID
        = QUrlQuery(QUrl(bodyOf(start).value("authorization_url").toString())).queryItemValue("request");
    const std::string form = "request=" + requestID.toStdString() + "&name=Ada";
    EXPECT_EQ(send("POST", "/dev/sign-in", form).status, 302);
    EXPECT_EQ(send("POST", "/dev/sign-in", form).status, 409);
    EXPECT_EQ(send("GET", "/dev/sign-in?request=" + requestID.toStdString()).status, 404);
    EXPECT_EQ(
        send("GET", "/dev/sign-in?request=" + QUuid::createUuid().toString().toStdString()).status, 404);
    EXPECT_EQ(send("POST", "/dev/sign-in", "request=" + requestID.toStdString() + "&name=+++").status, 400);
}

TEST_F(ControlPlaneServiceTest, AuthorizationUrlUsesTheHostTheDeviceReached)
{
    const std::string body
        = QJsonDocument(QJsonObject { { "device_public_key", somePublicKey }, { "platform", "macos" } })
              .toJson()
              .toStdString();
    const auto start = [&](const std::string& host) {
        return QUrl(bodyOf(send("POST", "/v1/auth/apple/web/start", body, { { "Host", host } }))
                        .value("authorization_url")
                        .toString());
    };
    EXPECT_EQ(start("localhost:9443").authority(), "localhost:9443");
    EXPECT_EQ(start("evil.example/path?x").authority(), "127.0.0.1:8443");
    EXPECT_EQ(start("localhost:9443").scheme(), "https");
}

TEST_F(ControlPlaneServiceTest, WithoutDevelopmentSignInTheAppleCallsAreNotConfigured)
{
    ControlPlaneServiceSettings settings;
    settings.publicHost = "127.0.0.1:8443";
    ControlPlaneService plain(*store, settings, [this] { return now; });
    const QJsonObject start { { "device_public_key", somePublicKey }, { "platform", "macos" } };
    const QJsonObject token { { "identity_token", "t" }, { "device_public_key", somePublicKey },
        { "platform", "macos" } };
    const std::pair<std::string, QJsonObject> calls[] = {
        { "/v1/auth/apple/web/start", start },
        { "/v1/auth/apple/web/complete", { { "ticket", "abc" } } },
        { "/v1/auth/apple", token },
    };
    for (const auto& [path, body] : calls) {
        HttpRequest request { "POST", path, {}, {}, QJsonDocument(body).toJson().toStdString() };
        const HttpResponse response = plain.handle(request);
        EXPECT_EQ(response.status, 503) << path;
        EXPECT_EQ(bodyOf(response).value("error"), "apple_sign_in_not_configured") << path;
    }
    EXPECT_EQ(plain.handle({ "GET", "/dev/sign-in", "request=x", {}, {} }).status, 503);
    // The identity-token registration has no provider in the development setup either.
    EXPECT_EQ(sendJson("/v1/auth/apple", token).status, 503);
}

TEST_F(ControlPlaneServiceTest, BadInputIsRefusedWithACodeAndChangesNothing)
{
    struct Case {
        std::string method;
        std::string path;
        std::string body;
        int status;
        const char* code;
    };
    const std::string key = somePublicKey.toStdString();
    const Case cases[] = {
        { "POST", "/v1/auth/apple/web/start", "{not json", 400, "invalid_json" },
        { "POST", "/v1/auth/apple/web/start", "[1, 2]", 400, "invalid_json" },
        { "POST", "/v1/auth/apple/web/start", "{}", 400, "invalid_request" },
        { "POST", "/v1/auth/apple/web/start", R"({"device_public_key": 5, "platform": "macos"})", 400,
            "invalid_request" },
        { "POST", "/v1/auth/apple/web/start", R"({"device_public_key": "short", "platform": "macos"})", 400,
            "invalid_request" },
        { "POST", "/v1/auth/apple/web/start", R"({"device_public_key": ")" + key + R"("})", 400,
            "invalid_request" },
        { "POST", "/v1/auth/apple/web/complete", R"({"ticket": null})", 400, "invalid_request" },
        { "POST", "/v1/auth/apple/web/complete", R"({"ticket": "unknown"})", 400, "invalid_ticket" },
        { "POST", "/v1/auth/device/recover", R"({"device_public_key": []})", 400, "invalid_request" },
        { "GET", "/v1/auth/apple/web/start", "", 405, "method_not_allowed" },
        { "DELETE", "/v1/account/delete", "", 405, "method_not_allowed" },
        { "GET", "/v1/unknown", "", 404, "not_found" },
        { "GET", "/", "", 404, "not_found" },
        { "POST", "/v1/account/state/", "", 404, "not_found" },
    };
    for (const Case& item : cases) {
        const HttpResponse response = send(item.method, item.path, item.body);
        EXPECT_EQ(response.status, item.status) << item.method << ' ' << item.path << ' ' << item.body;
        EXPECT_EQ(bodyOf(response).value("error").toString().toStdString(), item.code)
            << item.path << ' ' << item.body;
    }
}

} // namespace
} // namespace lumora

namespace lumora {
namespace {

TEST(ControlPlaneRoutes, PatternsMatchWholeSegments)
{
    struct Case {
        const char* pattern;
        const char* path;
        bool matches;
    };
    for (const Case& c : {
             Case { "/v1/account/state", "/v1/account/state", true },
             Case { "/v1/account/state", "/v1/account/state/", false },
             Case { "/v1/account/state", "/v1/account", false },
             Case { "/v1/content/conversations/{}", "/v1/content/conversations/abc", true },
             Case { "/v1/content/conversations/{}", "/v1/content/conversations/", false },
             Case { "/v1/content/conversations/{}", "/v1/content/conversations", false },
             Case { "/v1/content/conversations/{}/delete/approve",
                 "/v1/content/conversations/x/delete/approve", true },
             Case {
                 "/v1/content/conversations/{}/delete", "/v1/content/conversations/x/delete/approve", false },
             Case { "/v1/content/conversations/{}/hide", "/v1/content/conversations/x/y/hide", false },
         }) {
        SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.path);
        EXPECT_EQ(ControlPlaneService::matches(c.pattern, c.path), c.matches);
    }
}

} // namespace
} // namespace lumora
