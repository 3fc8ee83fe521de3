#include "ClientFixture.hpp"
#include "domain/JsonWriting.hpp"
#include "security/RequestSigner.hpp"
#include "security/SignedRequestHeaders.hpp"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>

namespace lumora {
namespace {

using testing::failureOf;
using testing::isDecodeError;
using testing::ScriptedServer;

using ControlPlaneTransportTest = testing::ScriptedClientTest;

TEST_F(ControlPlaneTransportTest, RefusalsMapToControlPlaneErrorsAndOnlyCodesAreLogged)
{
    struct Case {
        int status;
        QByteArray body;
        QByteArray contentType;
        ControlPlaneError expected;
    };
    const Case cases[] = {
        { 409, R"({"error":"conversation_id_conflict","detail":"again"})", "application/json",
            ControlPlaneError::rejectedWithCode(409, "conversation_id_conflict") },
        { 500, "<html><body>Internal error</body></html>", "text/html", ControlPlaneError::rejected(500) },
        { 401, "", "", ControlPlaneError::rejected(401) },
        { 400, R"({"error":5})", "application/json", ControlPlaneError::rejected(400) },
        { 403, R"({"error_code":"x"})", "application/json", ControlPlaneError::rejected(403) },
        { 302, "", "", ControlPlaneError::rejected(302) },
    };
    for (const Case& item : cases) {
        testing::LogCapture log;
        ScriptedServer server(item.status, item.body, item.contentType);
        const auto result
            = test::awaitTask(clientFor(server).rawSend("/v1/account/state", "GET", {}, {}, std::nullopt));
        EXPECT_EQ(failureOf(result), ControlPlaneFailure(item.expected)) << item.status;
        const QStringList logged { "com.lumora.native.control-plane: Control plane rejected request with "
                                   "status 409, code conversation_id_conflict" };
        EXPECT_EQ(log.lines(), item.status == 409 ? logged : QStringList {}) << item.status;
    }
}

TEST_F(ControlPlaneTransportTest, SignsThePathAndBodyAndSendsTheHeaders)
{
    ScriptedServer server(200, "{}");
    const ControlPlaneClient client = clientFor(server, "/base/");
    const QByteArray body = R"({"b":1})";
    const QUuid reservation = QUuid::fromString(QStringLiteral("ABCDEF01-2345-4678-89AB-CDEF01234567"));
    const ControlPlaneClient::QueryItems query { { "cursor", "a b&c" }, { "limit", "5" } };
    ASSERT_TRUE(
        test::awaitTask(client.rawSend("/v1/content/conversations", "POST", query, body, reservation)));
    ASSERT_TRUE(test::awaitTask(client.rawSend("/v1/account/state", "GET", {}, {}, std::nullopt)));
    ASSERT_EQ(server.requests().size(), 2);

    const auto& first = server.requests().at(0);
    EXPECT_EQ(first.target, "/base/v1/content/conversations?cursor=a%20b%26c&limit=5");
    EXPECT_EQ(first.body, body);
    EXPECT_EQ(first.header("Content-Type"), "application/json");
    EXPECT_EQ(first.header("X-Reservation-ID"), "abcdef01-2345-4678-89ab-cdef01234567");
    const auto signature
        = SignedRequestHeaders::fromAuthorization(QString::fromLatin1(first.header("Authorization")));
    ASSERT_TRUE(signature.has_value());
    EXPECT_EQ(signature->deviceID, deviceID);
    EXPECT_EQ(signature->timestamp, 1'800'000'000);
    const QByteArray canonical = RequestSigner::canonical(
        u"POST", u"/v1/content/conversations", signature->timestamp, signature->nonce, body);
    EXPECT_TRUE(
        RequestSigner::isValidSignature(identity.publicKeyBase64URL(), signature->signature, canonical));

    const auto& second = server.requests().at(1);
    EXPECT_EQ(second.target, "/base/v1/account/state");
    EXPECT_EQ(second.header("Content-Type"), "application/json");
    EXPECT_FALSE(second.hasHeader("X-Reservation-ID"));
    const auto secondSignature
        = SignedRequestHeaders::fromAuthorization(QString::fromLatin1(second.header("Authorization")));
    ASSERT_TRUE(secondSignature.has_value());
    EXPECT_NE(secondSignature->nonce, signature->nonce);
}

TEST_F(ControlPlaneTransportTest, NoAnswerIsTheNetworksError)
{
    const auto failure = failureOf(
        test::awaitTask(ControlPlaneClient(closedUrl(), deviceID, identity, manager).accountState()));
    ASSERT_TRUE(std::holds_alternative<TransportError>(failure));
    EXPECT_EQ(std::get<TransportError>(failure).code, QNetworkReply::ConnectionRefusedError);
}

// Content-Length 500 and the connection closed after 11 bytes: whatever the status line
// said, the reply never arrived.
TEST_F(ControlPlaneTransportTest, AReplyCutOffInItsBodyIsTheNetworksError)
{
    for (const int status : { 200, 409 }) {
        ScriptedServer server(status, R"({"ok":true})");
        server.announceLength(500);
        const auto failure = failureOf(
            test::awaitTask(clientFor(server).rawSend("/v1/account/delete", "POST", {}, {}, std::nullopt)));
        ASSERT_TRUE(std::holds_alternative<TransportError>(failure)) << status;
        EXPECT_EQ(std::get<TransportError>(failure).code, QNetworkReply::RemoteHostClosedError);
        EXPECT_FALSE(test::awaitTask(clientFor(server).deleteAccount()).has_value()) << status;
    }
}

TEST_F(ControlPlaneTransportTest, ReportsSendTheirPayloadsAndAcceptAnyOk)
{
    ScriptedServer server(200, R"({"ok":false})");
    const ControlPlaneClient client = clientFor(server);
    const QUuid other = QUuid::createUuid();
    EXPECT_TRUE(
        test::awaitTask(client.reportDiagnostic(DiagnosticEventType::uncleanTermination, "observed")));
    EXPECT_TRUE(test::awaitTask(client.reportProductEvent(ProductAnalyticsEvent::appOpened, "1.2 (3)")));
    EXPECT_TRUE(test::awaitTask(client.reportProductEvent(ProductAnalyticsEvent::appOpened, "1.2 (3)")));
    EXPECT_TRUE(test::awaitTask(client.revoke(other)));
    EXPECT_TRUE(test::awaitTask(client.deleteAccount()));
    const auto& sent = server.requests();
    ASSERT_EQ(sent.size(), 5);
    const auto body = [&](int index) { return QJsonDocument::fromJson(sent.at(index).body).object(); };
    EXPECT_EQ(sent[0].target, "/v1/diagnostics");
    EXPECT_EQ(body(0), (QJsonObject { { "event_type", "unclean_termination" }, { "status", "observed" } }));
    // A new upper-case event id each time.
    const QString eventID = body(1).value("event_id").toString();
    EXPECT_EQ(body(1),
        (QJsonObject { { "event_type", "app_opened" }, { "app_version", "1.2 (3)" },
            { "occurred_at", 1'800'000'000 }, { "event_id", eventID.toUpper() } }));
    EXPECT_NE(eventID, body(2).value("event_id").toString());
    EXPECT_EQ(body(3), (QJsonObject { { "device_id", uuidText(other, UuidCase::upper) } }));
    EXPECT_EQ(sent[4].target + sent[4].body, "/v1/account/delete");
}

TEST_F(ControlPlaneTransportTest, RepliesMissingWhatACallNeedsFailToDecode)
{
    ScriptedServer empty(200, "", "");
    const auto raw
        = test::awaitTask(clientFor(empty).rawSend("/v1/account/delete", "POST", {}, {}, std::nullopt));
    ASSERT_TRUE(raw.has_value());
    EXPECT_TRUE(raw->data.isEmpty());
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(empty).accountState())));
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(empty).deleteAccount())));
    ScriptedServer notOk(200, R"({"done":true})");
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(notOk).revoke(deviceID))));

    // A current session may lack its expiry; a created one may not.
    const QByteArray id = "0a1b2c3d-0000-4000-8000-00000000000a";
    ScriptedServer noExpiry(200, R"({"session_id":")" + id + R"(","status":"draft"})");
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(noExpiry).createConversationSession())));
    EXPECT_EQ(test::awaitTask(clientFor(noExpiry).currentConversationSession()),
        (ConversationSessionState { QUuid::fromString(QLatin1StringView(id)), "draft", std::nullopt }));
    ScriptedServer none(200, R"({"session_id":null,"expires_at":-1})");
    EXPECT_EQ(test::awaitTask(clientFor(none).currentConversationSession()),
        (ConversationSessionState {
            std::nullopt, std::nullopt, QDateTime::fromSecsSinceEpoch(-1, Qt::UTC) }));
    ScriptedServer nothing(200, "{}");
    EXPECT_EQ(test::awaitTask(clientFor(nothing).currentConversationSession()), ConversationSessionState {});
}

} // namespace
} // namespace lumora
