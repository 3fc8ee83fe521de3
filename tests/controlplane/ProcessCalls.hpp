#pragma once

#include "ControlPlaneProcess.hpp"
#include "TestDatabase.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "security/DeviceIdentity.hpp"
#include "security/RequestSigner.hpp"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <memory>
#include <string>

// Calls on a running control plane as a client makes them, without the application's
// client code: the sign-in steps, signed requests and their replies' codes.
namespace lumora::testing {

inline QUrl endpoint(const ControlPlaneProcess& server, const QString& path)
{
    return server.baseUrl().resolved(QUrl(path));
}

inline std::string codeOf(const TestReply& reply)
{
    return std::to_string(reply.status) + " "
        + QJsonDocument::fromJson(reply.body).object().value("error").toString().toStdString();
}

// Starts a sign-in for `publicKey` and completes the development page as `name`: the
// callback's ticket. Anyone may do this for any key.
inline QString ticketOver(const ControlPlaneProcess& server, const QString& publicKey, const QString& name)
{
    QNetworkAccessManager manager;
    const auto started = sendRequest(manager, "POST", endpoint(server, "/v1/auth/apple/web/start"),
        QJsonDocument(QJsonObject { { "device_public_key", publicKey }, { "platform", "linux" } }).toJson(),
        { { "Content-Type", "application/json" } });
    const QUrl page(QJsonDocument::fromJson(started.body).object().value("authorization_url").toString());
    const auto submitted = sendRequest(manager, "POST", endpoint(server, "/dev/sign-in"),
        "request=" + QUrlQuery(page).queryItemValue("request").toLatin1()
            + "&name=" + QUrl::toPercentEncoding(name),
        { { "Content-Type", "application/x-www-form-urlencoded" } });
    return QUrlQuery(QUrl(QString::fromLatin1(submitted.header("Location")))).queryItemValue("ticket");
}

// The redemption of a ticket, signed with `signer`'s key in the recovery form unless it is null.
inline TestRequest redemption(
    const ControlPlaneProcess& server, const QString& ticket, const DeviceIdentity* signer)
{
    const QString path = QStringLiteral("/v1/auth/apple/web/complete");
    TestRequest request { "POST", endpoint(server, path),
        QJsonDocument(QJsonObject { { "ticket", ticket } }).toJson(),
        { { "Content-Type", "application/json" } } };
    if (signer) {
        const auto signature = RequestSigner::signRecovery(
            *signer, u"POST", path, request.body, QDateTime::currentDateTimeUtc(), QUuid::createUuid());
        request.headers.emplaceBack(
            "Authorization", signature ? signature->authorization().toLatin1() : QByteArray());
    }
    return request;
}

inline TestReply send(const TestRequest& request)
{
    QNetworkAccessManager manager;
    return sendRequest(manager, request.method, request.url, request.body, request.headers);
}

// Signs a new device in through the development sign-in of a running server: its id.
inline QUuid signInOver(
    const ControlPlaneProcess& server, const DeviceIdentity& identity, const QString& name)
{
    const TestReply completed
        = send(redemption(server, ticketOver(server, identity.publicKeyBase64URL(), name), &identity));
    return QUuid::fromString(QJsonDocument::fromJson(completed.body).object().value("device_id").toString());
}

// The "Authorization" header of a signed request, made now with a fresh nonce.
inline QByteArray signedBy(const DeviceIdentity& identity, const QUuid& device, const QString& method,
    const QString& path, const QByteArray& body = {})
{
    const auto signature = RequestSigner::sign(
        identity, device, method, path, body, QDateTime::currentDateTimeUtc(), QUuid::createUuid());
    return signature ? signature->authorization().toLatin1() : QByteArray();
}

inline TestReply accountStateOver(const ControlPlaneProcess& server, const QByteArray& authorization)
{
    QNetworkAccessManager manager;
    return sendRequest(
        manager, "GET", endpoint(server, "/v1/account/state"), {}, { { "Authorization", authorization } });
}

// A signed POST of a body, with any further headers.
inline TestRequest signedPost(const ControlPlaneProcess& server, const DeviceIdentity& identity,
    const QUuid& device, const QString& path, const QByteArray& body,
    QList<std::pair<QByteArray, QByteArray>> headers = {})
{
    headers.emplaceBack("Content-Type", "application/json");
    headers.emplaceBack("Authorization", signedBy(identity, device, "POST", path, body));
    return TestRequest { "POST", endpoint(server, path), body, headers };
}

inline TestRequest signedPost(const ControlPlaneProcess& server, const DeviceIdentity& identity,
    const QUuid& device, const QString& path, const QJsonObject& body,
    QList<std::pair<QByteArray, QByteArray>> headers = {})
{
    return signedPost(server, identity, device, path, QJsonDocument(body).toJson(), std::move(headers));
}

// The upload body of a new conversation of one turn that ended now.
inline QByteArray conversationUpload(const QString& words = QStringLiteral("Hello"))
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    ConversationUploadPayload payload;
    payload.conversationID = QUuid::createUuid();
    payload.startedAt = now - 60;
    payload.endedAt = now;
    payload.durationSeconds = 60;
    payload.transcript.segments = { SpeakerTurn(0, 0, 5, words) };
    payload.analysis = ConversationAnalysisPayload { 1, QStringLiteral("Calm"), {}, {}, {}, false };
    return ConversationUploadCodec::encode(payload).value_or(QByteArray());
}

// The real control plane with the development sign-in over a database of its own, on SQLite
// and on PostgreSQL (instantiate with LUMORA_ON_EVERY_BACKEND).
class ProcessOnEveryBackend : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(database.failed());
        if (database.url().isEmpty())
            GTEST_SKIP() << "no PostgreSQL server";
        server = std::make_unique<ControlPlaneProcess>(
            QStringList { "--dev-sign-in", "--database", database.url() });
        ASSERT_TRUE(server->started());
    }

    void TearDown() override
    {
        if (server) {
            EXPECT_EQ(server->stop(), 0);
        }
    }

    TestDatabase database { GetParam() };
    std::unique_ptr<ControlPlaneProcess> server;
};

inline TestReply postSigned(const ControlPlaneProcess& server, const DeviceIdentity& identity,
    const QUuid& device, const QString& path, const QJsonObject& body)
{
    return send(signedPost(server, identity, device, path, body));
}

} // namespace lumora::testing
