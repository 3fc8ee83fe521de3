#pragma once

#include "TestDatabase.hpp"
#include "controlplane/ContentSeal.hpp"
#include "controlplane/ControlPlaneService.hpp"
#include "security/DeviceIdentity.hpp"
#include "security/RequestSigner.hpp"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

namespace lumora::testing {

inline DeviceIdentity newIdentity()
{
    return DeviceIdentity(*P256PrivateKey::generate());
}

inline QJsonObject bodyOf(const HttpResponse& response)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(response.body)).object();
}

inline std::string json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson().toStdString();
}

// "409 reservation_closed": a reply's status and error code in one comparable text.
inline std::string codeOf(const HttpResponse& response)
{
    return std::to_string(response.status) + " " + bodyOf(response).value("error").toString().toStdString();
}

// A signed-in device with its key.
struct Member {
    DeviceIdentity identity;
    DeviceRecord device;
};

inline constexpr const char* pairingPolicy = "pairing-2026-08-18";

// The service over a fresh store (SQLite unless a database URL is given), with a clock the
// test sets. Tests change `settings` and call restart() for another configuration.
class ControlPlaneServiceTest : public ::testing::Test {
protected:
    explicit ControlPlaneServiceTest(const QString& databaseUrl = {})
    {
        store = std::move(*ControlPlaneStore::open(
            databaseUrl.isEmpty() ? "sqlite:" + dir.filePath("cp.sqlite") : databaseUrl));
        settings.devSignIn = true;
        settings.publicUrl = QUrl("https://127.0.0.1:8443");
        settings.contentSeal = std::make_shared<const ContentSeal>(*SymmetricKey::random256());
        restart();
    }

    void restart()
    {
        service = std::make_unique<ControlPlaneService>(*store, settings, [this] { return now; });
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
        return send("POST", path, json(body));
    }

    // What the callback URL of a sign-in carries.
    struct SignInCallback {
        QString ticket;
        QString state;
    };

    // Start (with a fresh state value) and the development page: the callback's ticket and state.
    SignInCallback ticketFor(const QString& publicKey, const QString& name)
    {
        const HttpResponse start = sendJson("/v1/auth/apple/web/start",
            { { "device_public_key", publicKey }, { "platform", "macos" },
                { "state", QUuid::createUuid().toString(QUuid::Id128) } });
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
        return { QUrlQuery(callback).queryItemValue("ticket"), QUrlQuery(callback).queryItemValue("state") };
    }

    // Redeems a sign-in ticket with the state it returned with, signed in the recovery form by
    // `signer` (the key the ticket was asked for, when it is the caller's own) unless that is null.
    HttpResponse redeem(
        const SignInCallback& callback, const DeviceIdentity* signer, QUuid nonce = QUuid::createUuid())
    {
        const std::string path = "/v1/auth/apple/web/complete";
        const std::string body = json({ { "ticket", callback.ticket }, { "state", callback.state } });
        std::vector<std::pair<std::string, std::string>> headers;
        if (signer) {
            const auto signature = RequestSigner::signRecovery(*signer, u"POST", QString::fromStdString(path),
                QByteArrayView(body), QDateTime::fromSecsSinceEpoch(now, Qt::UTC), nonce);
            EXPECT_TRUE(signature.has_value());
            headers.emplace_back("Authorization", signature->authorization().toStdString());
        }
        return send("POST", path, body, std::move(headers));
    }

    // Signs over the path alone, as the client does (the query goes along unsigned), and
    // sends; `signedAt` defaults to the server's clock.
    HttpResponse sendSigned(const DeviceIdentity& identity, const QUuid& deviceID, const std::string& method,
        const std::string& target, const std::string& body = {}, std::optional<qint64> signedAt = {},
        QUuid nonce = QUuid::createUuid(), std::vector<std::pair<std::string, std::string>> headers = {})
    {
        const auto signature = RequestSigner::sign(identity, deviceID, QString::fromStdString(method),
            QString::fromStdString(target.substr(0, target.find('?'))), QByteArrayView(body),
            QDateTime::fromSecsSinceEpoch(signedAt.value_or(now), Qt::UTC), nonce);
        EXPECT_TRUE(signature.has_value());
        headers.emplace_back("Authorization", signature->authorization().toStdString());
        return send(method, target, body, std::move(headers));
    }

    HttpResponse call(
        const Member& who, const std::string& method, const std::string& target, const std::string& body = {})
    {
        return sendSigned(who.identity, who.device.id, method, target, body);
    }

    // A signed GET that expects 200 and answers the reply's object.
    QJsonObject get(const Member& who, const std::string& target)
    {
        const HttpResponse reply = call(who, "GET", target);
        EXPECT_EQ(reply.status, 200) << target << ' ' << reply.body;
        return bodyOf(reply);
    }

    // A signed POST that expects 200 and answers the reply's object.
    QJsonObject post(const Member& who, const std::string& path, const QJsonObject& body = {})
    {
        const HttpResponse reply = call(who, "POST", path, body.isEmpty() ? std::string() : json(body));
        EXPECT_EQ(reply.status, 200) << path << ' ' << reply.body;
        return bodyOf(reply);
    }

    // The whole development sign-in for `identity`: the registration's device.
    DeviceRecord signIn(const DeviceIdentity& identity, const QString& name)
    {
        const HttpResponse complete = redeem(ticketFor(identity.publicKeyBase64URL(), name), &identity);
        EXPECT_EQ(complete.status, 200) << complete.body;
        const auto device = store->device(QUuid::fromString(bodyOf(complete).value("device_id").toString()));
        EXPECT_TRUE(device.has_value());
        return device.value_or(DeviceRecord {});
    }

    Member member(const QString& name)
    {
        DeviceIdentity identity = newIdentity();
        const DeviceRecord device = signIn(identity, name);
        return Member { std::move(identity), device };
    }

    // Links two accounts as partners through the pairing calls: the joiner leaves its
    // workspace, which becomes a previous one, for the owner's, which they share from now on.
    void link(const Member& joiner, const Member& owner)
    {
        const QJsonObject invite
            = post(owner, "/v1/pairing/invites", { { "policy_version", pairingPolicy } });
        post(joiner, "/v1/pairing/invites/redeem", { { "code", invite.value("code") } });
        post(joiner, "/v1/pairing/invites/confirm",
            { { "invite_id", invite.value("invite_id") }, { "policy_version", pairingPolicy } });
    }

    QTemporaryDir dir;
    qint64 now = 1'800'000'000;
    std::unique_ptr<ControlPlaneStore> store;
    ControlPlaneServiceSettings settings;
    std::unique_ptr<ControlPlaneService> service;
};

// Holds the database, so that it exists before the service fixture opens it.
class ParameterDatabase {
protected:
    TestDatabase database { ::testing::WithParamInterface<Backend>::GetParam() };
};

// The service over SQLite and over PostgreSQL (instantiate with LUMORA_ON_EVERY_BACKEND).
class BackendServiceTest : protected ParameterDatabase,
                           public ControlPlaneServiceTest,
                           public ::testing::WithParamInterface<Backend> {
protected:
    BackendServiceTest()
        : ControlPlaneServiceTest(database.url())
    {
    }

    void SetUp() override
    {
        ASSERT_FALSE(database.failed());
        if (database.url().isEmpty())
            GTEST_SKIP() << "LUMORA_TEST_POSTGRESQL_URL is not set (scripts/with-test-postgresql sets it)";
    }
};

} // namespace lumora::testing
