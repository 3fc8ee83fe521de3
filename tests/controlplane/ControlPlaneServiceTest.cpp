#include "controlplane/ControlPlaneService.hpp"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

namespace lumora {
namespace {

// A well-formed public-key text (0x04 and 64 bytes) for calls that only store the key.
QString somePublicKey()
{
    const QByteArray point = QByteArray(1, '\x04') + QByteArray(64, '\x11');
    return QString::fromLatin1(
        point.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QJsonObject bodyOf(const HttpResponse& response)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(response.body)).object();
}

class ControlPlaneServiceTest : public ::testing::Test {
protected:
    ControlPlaneServiceTest()
    {
        store = std::move(*ControlPlaneStore::open("sqlite:" + dir.filePath("cp.sqlite")));
        service = std::make_unique<ControlPlaneService>(
            *store, ControlPlaneServiceSettings { true, "127.0.0.1:8443" }, [this] { return now; });
    }

    HttpResponse send(const std::string& method, const std::string& target, const std::string& body = {},
        std::vector<std::pair<std::string, std::string>> headers = {})
    {
        HttpRequest request { method, target, {}, std::move(headers), body };
        if (const auto question = target.find('?'); question != std::string::npos) {
            request.path = target.substr(0, question);
            request.query = target.substr(question + 1);
        }
        return service->handle(request);
    }

    HttpResponse sendJson(const std::string& path, const QJsonObject& body)
    {
        return send("POST", path, QJsonDocument(body).toJson().toStdString());
    }

    // Start and the development page: the ticket of the callback URL.
    QString ticketFor(const QString& publicKey, const QString& name)
    {
        const HttpResponse start = sendJson(
            "/v1/auth/apple/web/start", { { "device_public_key", publicKey }, { "platform", "macos" } });
        EXPECT_EQ(start.status, 200) << start.body;
        const QUrl page(bodyOf(start).value("authorization_url").toString());
        const QString requestID = QUrlQuery(page).queryItemValue("request");
        const HttpResponse form = send("GET", "/dev/sign-in?request=" + requestID.toStdString());
        EXPECT_EQ(form.status, 200);
        EXPECT_NE(form.body.find(requestID.toStdString()), std::string::npos);
        const HttpResponse submitted = send("POST", "/dev/sign-in",
            "request=" + requestID.toStdString() + "&name=" + QUrl::toPercentEncoding(name).toStdString(),
            { { "Content-Type", "application/x-www-form-urlencoded" } });
        EXPECT_EQ(submitted.status, 302);
        const QUrl callback(
            QString::fromStdString(submitted.headers.empty() ? "" : submitted.headers[0].second));
        EXPECT_EQ(callback.scheme(), "lumora");
        EXPECT_EQ(callback.host(), "apple-auth");
        return QUrlQuery(callback).queryItemValue("ticket");
    }

    QTemporaryDir dir;
    qint64 now = 1'800'000'000;
    std::unique_ptr<ControlPlaneStore> store;
    std::unique_ptr<ControlPlaneService> service;
};

TEST_F(ControlPlaneServiceTest, DevelopmentSignInRegistersTheKeyUnderTheNamedAccount)
{
    const QString ticket = ticketFor(somePublicKey(), "Ada Lovelace");
    const HttpResponse complete = sendJson("/v1/auth/apple/web/complete", { { "ticket", ticket } });
    ASSERT_EQ(complete.status, 200) << complete.body;
    const QJsonObject registration = bodyOf(complete);
    const QUuid deviceID = QUuid::fromString(registration.value("device_id").toString());
    const auto device = store->device(deviceID);
    ASSERT_TRUE(device.has_value());
    EXPECT_EQ(device->publicKey, somePublicKey());
    EXPECT_EQ(device->accountID, QUuid::fromString(registration.value("account_id").toString()));

    // A ticket is redeemed once.
    const HttpResponse again = sendJson("/v1/auth/apple/web/complete", { { "ticket", ticket } });
    EXPECT_EQ(again.status, 400);
    EXPECT_EQ(bodyOf(again).value("error"), "invalid_ticket");
}

TEST_F(ControlPlaneServiceTest, TicketsLapseAfterTenMinutes)
{
    const QString onTime = ticketFor(somePublicKey(), "Ada");
    const QString late = ticketFor(somePublicKey(), "Ada");
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
        "/v1/auth/apple/web/start", { { "device_public_key", somePublicKey() }, { "platform", "macos" } });
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
        = QJsonDocument(QJsonObject { { "device_public_key", somePublicKey() }, { "platform", "macos" } })
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
    ControlPlaneService plain(
        *store, ControlPlaneServiceSettings { false, "127.0.0.1:8443" }, [this] { return now; });
    const QJsonObject start { { "device_public_key", somePublicKey() }, { "platform", "macos" } };
    const QJsonObject token { { "identity_token", "t" }, { "device_public_key", somePublicKey() },
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
    const std::string key = somePublicKey().toStdString();
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
