#pragma once

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

// The service over a fresh store (SQLite unless a database URL is given), with a clock the
// test sets.
class ControlPlaneServiceTest : public ::testing::Test {
protected:
    explicit ControlPlaneServiceTest(const QString& databaseUrl = {})
    {
        store = std::move(*ControlPlaneStore::open(
            databaseUrl.isEmpty() ? "sqlite:" + dir.filePath("cp.sqlite") : databaseUrl));
        ControlPlaneServiceSettings settings;
        settings.devSignIn = true;
        settings.publicHost = "127.0.0.1:8443";
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

    // Signs as the device would and sends; `signedAt` defaults to the server's clock.
    HttpResponse sendSigned(const DeviceIdentity& identity, const QUuid& deviceID, const std::string& method,
        const std::string& path, const std::string& body = {}, std::optional<qint64> signedAt = {},
        QUuid nonce = QUuid::createUuid())
    {
        const auto headers = RequestSigner::sign(identity, deviceID, QString::fromStdString(method),
            QString::fromStdString(path), QByteArrayView(body),
            QDateTime::fromSecsSinceEpoch(signedAt.value_or(now), Qt::UTC), nonce);
        EXPECT_TRUE(headers.has_value());
        return send(method, path, body, { { "Authorization", headers->authorization().toStdString() } });
    }

    // The whole development sign-in for `identity`: the registration's device.
    DeviceRecord signIn(const DeviceIdentity& identity, const QString& name)
    {
        const QString ticket = ticketFor(identity.publicKeyBase64URL(), name);
        const HttpResponse complete = sendJson("/v1/auth/apple/web/complete", { { "ticket", ticket } });
        EXPECT_EQ(complete.status, 200) << complete.body;
        const auto device = store->device(QUuid::fromString(bodyOf(complete).value("device_id").toString()));
        EXPECT_TRUE(device.has_value());
        return device.value_or(DeviceRecord {});
    }

    QTemporaryDir dir;
    qint64 now = 1'800'000'000;
    std::unique_ptr<ControlPlaneStore> store;
    std::unique_ptr<ControlPlaneService> service;
};

} // namespace lumora::testing
