#pragma once

#include "ControlPlaneProcess.hpp"
#include "TestDatabase.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "domain/PairingPolicy.hpp"
#include "security/DeviceIdentity.hpp"
#include "security/RequestSigner.hpp"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTcpSocket>
#include <QUrlQuery>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

// Calls to a control plane running as a process, as its clients make them, without the
// application's client code: the sign-in steps, signed requests and their replies' codes.
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

// What the callback URL of a sign-in carries.
struct SignInCallback {
    QString ticket;
    QString state;
};

// The start of a sign-in for `publicKey` with the state value `state`.
inline TestRequest signInStart(
    const ControlPlaneProcess& server, const QString& publicKey, const QString& state)
{
    return { "POST", endpoint(server, "/v1/auth/apple/web/start"),
        QJsonDocument(
            QJsonObject { { "device_public_key", publicKey }, { "platform", "linux" }, { "state", state } })
            .toJson(),
        { { "Content-Type", "application/json" } } };
}

// Starts a sign-in for `publicKey` with `state` (a value of its own unless given) and completes
// the development page as `name`: the callback's ticket and state. Anyone may do this for any key.
inline SignInCallback ticketOver(const ControlPlaneProcess& server, const QString& publicKey,
    const QString& name, const QString& state = QUuid::createUuid().toString(QUuid::Id128))
{
    QNetworkAccessManager manager;
    const TestRequest start = signInStart(server, publicKey, state);
    const auto started = sendRequest(manager, start.method, start.url, start.body, start.headers);
    const QUrl page(QJsonDocument::fromJson(started.body).object().value("authorization_url").toString());
    const auto submitted = sendRequest(manager, "POST", endpoint(server, "/dev/sign-in"),
        "request=" + QUrlQuery(page).queryItemValue("request").toLatin1()
            + "&name=" + QUrl::toPercentEncoding(name),
        { { "Content-Type", "application/x-www-form-urlencoded" } });
    const QUrlQuery callback(QUrl(QString::fromLatin1(submitted.header("Location"))));
    return { callback.queryItemValue("ticket"), callback.queryItemValue("state") };
}

// The redemption of a ticket with a state (the one it returned with unless given), signed
// with `signer`'s key in the recovery form unless it is null.
inline TestRequest redemption(const ControlPlaneProcess& server, const SignInCallback& callback,
    const DeviceIdentity* signer, const std::optional<QString>& state = {})
{
    const QString path = QStringLiteral("/v1/auth/apple/web/complete");
    TestRequest request { "POST", endpoint(server, path),
        QJsonDocument(
            QJsonObject { { "ticket", callback.ticket }, { "state", state.value_or(callback.state) } })
            .toJson(),
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

// A device's recovery of its registration, signed with its key.
inline TestReply recoverOver(const ControlPlaneProcess& server, const DeviceIdentity& identity)
{
    const QString path = QStringLiteral("/v1/auth/device/recover");
    const QByteArray body
        = QJsonDocument(QJsonObject { { "device_public_key", identity.publicKeyBase64URL() } }).toJson();
    const auto signature = RequestSigner::signRecovery(
        identity, u"POST", path, body, QDateTime::currentDateTimeUtc(), QUuid::createUuid());
    return send({ "POST", endpoint(server, path), body,
        { { "Content-Type", "application/json" },
            { "Authorization", signature->authorization().toLatin1() } } });
}

// Writes raw bytes and reads until the server closes the connection.
inline QByteArray exchangeRaw(const QUrl& base, const QByteArray& bytes)
{
    QTcpSocket socket;
    socket.connectToHost(base.host(), static_cast<quint16>(base.port()));
    if (!socket.waitForConnected(60000))
        return {};
    socket.write(bytes);
    QByteArray reply;
    while (socket.waitForReadyRead(60000))
        reply += socket.readAll();
    return reply;
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

inline QJsonObject bodyOf(const TestReply& reply)
{
    return QJsonDocument::fromJson(reply.body).object();
}

// One signed-in account of the development sign-in, with its own computer.
struct Partner {
    DeviceIdentity identity { *P256PrivateKey::generate() };
    QUuid device;

    TestRequest post(
        const ControlPlaneProcess& server, const QString& path, const QJsonObject& body = {}) const
    {
        return signedPost(server, identity, device, path, body);
    }

    TestReply get(const ControlPlaneProcess& server, const QString& path) const
    {
        return send({ "GET", endpoint(server, path), {},
            { { "Authorization", signedBy(identity, device, "GET", path) } } });
    }
};

// Links two signed-in accounts as partners through the pairing calls: the joiner redeems the
// owner's code and confirms it. Whether every step was answered 200.
inline bool linkOver(const ControlPlaneProcess& server, const Partner& joiner, const Partner& owner)
{
    const QString policy = PairingPolicy::version.toString();
    const TestReply invite
        = send(owner.post(server, "/v1/pairing/invites", { { "policy_version", policy } }));
    return invite.status == 200
        && send(joiner.post(
                    server, "/v1/pairing/invites/redeem", { { "code", bodyOf(invite).value("code") } }))
               .status
        == 200
        && send(joiner.post(server, "/v1/pairing/invites/confirm",
                    { { "invite_id", bodyOf(invite).value("invite_id") }, { "policy_version", policy } }))
               .status
        == 200;
}

// Signs Ada and Bob in, each with an account of that name, and links Bob to Ada as her partner:
// whether all of it went through.
inline bool signInPartners(const ControlPlaneProcess& server, Partner& ada, Partner& bob)
{
    ada.device = signInOver(server, ada.identity, "Ada");
    bob.device = signInOver(server, bob.identity, "Bob");
    return !ada.device.isNull() && !bob.device.isNull() && linkOver(server, bob, ada);
}

// A stored conversation whose transcript makes its body nearly as large as allowed, or with
// fewer `segments` of some 2 KiB each.
inline QByteArray largeConversation(qsizetype segments = 460)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    ConversationUploadPayload payload;
    payload.conversationID = QUuid::createUuid();
    payload.startedAt = now - 600;
    payload.endedAt = now;
    payload.durationSeconds = 600;
    payload.title = QStringLiteral("Long talk");
    const QString words = QStringLiteral("we talked about the week ahead and ").repeated(60);
    for (int turn = 0; payload.transcript.segments.size() < segments; ++turn)
        payload.transcript.segments.append(SpeakerTurn(turn % 2, turn, turn + 1, words));
    payload.analysis = ConversationAnalysisPayload { 1, "Calm", {}, {}, {}, false };
    return ConversationUploadCodec::encode(payload).value_or(QByteArray());
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
        startServer();
    }

    // Starts a server on the test's database (again, once the one before has stopped), with
    // `more` arguments.
    void startServer(const QStringList& more = {})
    {
        server = std::make_unique<ControlPlaneProcess>(
            QStringList { "--dev-sign-in", "--database", database.url() } + more);
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

// A connection of its own to the server at `base` on 127.0.0.1, from `source` (another
// address of the loopback network) when given, with blocking reads that give up after ten
// seconds.
inline int connectTo(const QUrl& base, const char* source = nullptr)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(base.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval patience { 10, 0 };
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    if (source) {
        sockaddr_in from {};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &from.sin_addr);
        ::bind(socket, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    }
    if (socket >= 0 && ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

inline bool sendAll(int socket, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const auto sent = ::send(socket, bytes.data(), static_cast<std::size_t>(bytes.size()), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes = bytes.sliced(sent);
    }
    return true;
}

// A signed request as bytes on the wire, asking the server to close the connection after it.
inline QByteArray signedRequest(const DeviceIdentity& identity, const QUuid& device, const QString& method,
    const QString& path, const QByteArray& body, const QByteArray& moreHeaders = {})
{
    return method.toLatin1() + ' ' + path.toLatin1() + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        + "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nAuthorization: " + signedBy(identity, device, method, path, body) + "\r\n" + moreHeaders
        + "\r\n" + body;
}

// A request written on a connection of its own (all of it, or a part and the rest later), its
// answer read when asked: for requests under way at once, or sent slowly.
class SentRequest {
public:
    SentRequest(const QUrl& base, const QByteArray& bytes, const char* source = nullptr)
        : m_socket(connectTo(base, source))
        , m_sent(m_socket >= 0 && sendAll(m_socket, bytes))
    {
    }
    ~SentRequest()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    SentRequest(const SentRequest&) = delete;
    SentRequest& operator=(const SentRequest&) = delete;

    [[nodiscard]] bool sent() const { return m_sent; }
    bool send(QByteArrayView more) { return m_sent = m_sent && sendAll(m_socket, more); }
    // Whether the answer has begun (or the connection ended) within `milliseconds`.
    [[nodiscard]] bool answered(int milliseconds = 0) const
    {
        pollfd readable { m_socket, POLLIN, 0 };
        return ::poll(&readable, 1, milliseconds) > 0;
    }
    // The whole answer, until the server closes the connection.
    QByteArray reply() { return receive(nullptr); }
    // The answer's first line.
    QByteArray statusLine()
    {
        const QByteArray start = receive("\r\n");
        return start.left(start.indexOf("\r\n"));
    }

private:
    // What arrives until `until` is among it (null: until the connection closes).
    QByteArray receive(const char* until)
    {
        QByteArray all;
        char chunk[4096];
        while (!until || !all.contains(until)) {
            const auto received = ::recv(m_socket, chunk, sizeof chunk, 0);
            if (received <= 0)
                break;
            all.append(chunk, received);
        }
        return all;
    }

    int m_socket;
    bool m_sent;
};

} // namespace lumora::testing
