#include "ControlPlaneProcess.hpp"
#include "ProcessCalls.hpp"
#include "TestDatabase.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "security/DeviceIdentity.hpp"
#include "security/RequestSigner.hpp"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QUrlQuery>
#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace lumora {
namespace {

using testing::accountStateOver;
using testing::codeOf;
using testing::connectTo;
using testing::ControlPlaneProcess;
using testing::endpoint;
using testing::exchangeRaw;
using testing::postSigned;
using testing::sendAll;
using testing::sendRequest;
using testing::signedBy;
using testing::signInOver;
using testing::TestCertificates;
using testing::TestReply;

// Seconds of CPU the process has used so far.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return static_cast<double>(fields.value(11).toLongLong() + fields.value(12).toLongLong())
        / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Connections that a stranger opens and never uses, closed at the end.
class IdleConnections {
public:
    IdleConnections(const QUrl& base, int count)
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(base.port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < count; ++i) {
            const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (socket < 0)
                break;
            m_sockets.push_back(socket);
            if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
                break;
            ++m_connected;
        }
    }
    ~IdleConnections()
    {
        for (const int socket : m_sockets)
            ::close(socket);
    }
    IdleConnections(const IdleConnections&) = delete;
    IdleConnections& operator=(const IdleConnections&) = delete;
    [[nodiscard]] int connected() const { return m_connected; }

private:
    std::vector<int> m_sockets;
    int m_connected = 0;
};

// Far more idle connections than the server has descriptors: it closes the longest idle to
// admit new ones, answers a signed request without waiting for one to time out and does not
// spin meanwhile. Heads may take a minute here, far longer than the request waits for its
// answer, so only a connection closed to make way lets it in.
TEST(ControlPlaneHttp, AnswersASignedRequestWhileStrangersHoldThousandsOfIdleConnections)
{
    ControlPlaneProcess server({ "--dev-sign-in", "--request-head-timeout", "60" }, 256);
    ASSERT_TRUE(server.started());
    const DeviceIdentity identity(*P256PrivateKey::generate());
    const QUuid device = signInOver(server, identity, "Ada");
    ASSERT_FALSE(device.isNull());

    const IdleConnections strangers(server.baseUrl(), 2000);
    EXPECT_EQ(strangers.connected(), 2000);
    // Once it has taken in the crowd (slower under the sanitizers), a whole second passes
    // with the server using less than a tenth of it; a server that spins never gets there.
    double busiest = 0;
    bool settled = false;
    for (int second = 0; second < 60 && !settled; ++second) {
        const double before = cpuSeconds(server.processId());
        QThread::msleep(1000);
        const double used = cpuSeconds(server.processId()) - before;
        settled = used < 0.1;
        busiest = std::max(busiest, used);
    }
    EXPECT_TRUE(settled) << "the server works while nobody asks: " << busiest << " s of CPU a second";

    const auto state = accountStateOver(server, signedBy(identity, device, "GET", "/v1/account/state"));
    EXPECT_EQ(state.status, 200) << state.body.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(state.body).object().value("device_id").toString(),
        device.toString(QUuid::WithoutBraces));
    EXPECT_EQ(server.stop(), 0) << server.log().toStdString();
}

// Heads that come slowly are closed after the head timeout whatever they send, and at the
// connection cap the one that has waited longest for its head makes way for a new client.
TEST(ControlPlaneHttp, SlowHeadsAreClosedInTimeAndGiveWayAtTheCap)
{
    // 256 descriptors leave room for 192 connections; heads may take a minute.
    ControlPlaneProcess server({ "--dev-sign-in", "--request-head-timeout", "60" }, 256);
    ASSERT_TRUE(server.started());
    const DeviceIdentity identity(*P256PrivateKey::generate());
    const QUuid device = signInOver(server, identity, "Ada");
    std::vector<int> slow;
    for (int i = 0; i < 200; ++i) {
        slow.push_back(connectTo(server.baseUrl()));
        EXPECT_TRUE(sendAll(slow.back(), "GET /v1/account/state HTTP/1.1\r\nHost: x\r\n"));
    }
    const auto state = accountStateOver(server, signedBy(identity, device, "GET", "/v1/account/state"));
    EXPECT_EQ(state.status, 200);
    char byte = 0;
    EXPECT_EQ(::recv(slow.front(), &byte, 1, 0), 0) << "the oldest slow head is closed";
    EXPECT_TRUE(sendAll(slow.back(), "\r\n"));
    QByteArray reply(64, '\0');
    reply.truncate(std::max<qsizetype>(::recv(slow.back(), reply.data(), 64, 0), 0));
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 401"))
        << "the newest may finish its head: " << reply.toStdString();
    for (const int socket : slow)
        ::close(socket);
    EXPECT_EQ(server.stop(), 0);

    // Trickled byte by byte, a head is closed once its time is up, before it is complete; so
    // is a new connection that sends nothing.
    ControlPlaneProcess impatient({ "--request-head-timeout", "1" });
    ASSERT_TRUE(impatient.started());
    const int silent = connectTo(impatient.baseUrl());
    const int trickling = connectTo(impatient.baseUrl());
    const QByteArray head
        = "GET /v1/nothing HTTP/1.1\r\nHost: x\r\nX-Slow: " + QByteArray(100, 'a') + "\r\n\r\n";
    bool closed = false;
    // The pauses are the trickle's own: a byte every tenth of a second.
    for (qsizetype at = 0; at < head.size() && !closed; ++at) {
        closed = !sendAll(trickling, head.sliced(at, 1)) || ::recv(trickling, &byte, 1, MSG_DONTWAIT) == 0;
        QThread::msleep(100);
    }
    EXPECT_TRUE(closed);
    EXPECT_EQ(::recv(silent, &byte, 1, 0), 0);
    ::close(trickling);
    ::close(silent);
}

// A caller that stops the server as soon as it names its port gets a clean stop, not a
// process killed by the signal's default action.
TEST(ControlPlaneHttp, StopsCleanlyWhenSignalledRightAfterStarting)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        ControlPlaneProcess server({});
        ASSERT_TRUE(server.started());
        EXPECT_EQ(server.stop(), 0) << server.log().toStdString();
    }
}

TEST(ControlPlaneHttp, RefusesBadRequestsKeepsServingAndLogsOneLineEachWithoutBodiesOrQueries)
{
    ControlPlaneProcess server({ "--dev-sign-in" });
    ASSERT_TRUE(server.started());
    QNetworkAccessManager manager;
    const auto missing = sendRequest(manager, "GET", endpoint(server, "/v1/nothing?secret=query"));
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, R"({"error":"not_found"})");
    EXPECT_EQ(missing.header("Content-Type"), "application/json");

    const auto wrongMethod
        = sendRequest(manager, "PUT", endpoint(server, "/v1/account/state"), "secret-body");
    EXPECT_EQ(wrongMethod.status, 405);
    EXPECT_EQ(wrongMethod.header("Allow"), "GET");

    const QByteArray justTooLarge(2 * 1024 * 1024 + 1, ' ');
    const auto large = sendRequest(manager, "POST", endpoint(server, "/v1/diagnostics"), justTooLarge);
    EXPECT_EQ(large.status, 413);
    EXPECT_EQ(large.body, R"({"error":"payload_too_large"})");

    // At the limit a signed call's body is read and judged by the call itself.
    const QByteArray atLimit(2 * 1024 * 1024, ' ');
    const DeviceIdentity identity(*P256PrivateKey::generate());
    const QUuid device = signInOver(server, identity, "Ada");
    EXPECT_EQ(codeOf(sendRequest(manager, "POST", endpoint(server, "/v1/diagnostics"), atLimit,
                  { { "Authorization", signedBy(identity, device, "POST", "/v1/diagnostics", atLimit) } })),
        "400 invalid_json");

    // Trailers of a chunked body are limited like the head; a field of 64 KB once ended the process.
    const auto chunkedWithTrailer = [](qsizetype size) {
        return "POST /v1/diagnostics HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
               "2\r\n{}\r\n0\r\nX-Trailer: "
            + QByteArray(size, 'a') + "\r\n\r\n";
    };
    const QByteArray malformed[] = { "NOT HTTP AT ALL\r\n\r\n",
        "GET /v1/nothing HTTP/1.1\r\nHost: x\r\nX-Big: " + QByteArray(20000, 'a') + "\r\n\r\n",
        "POST /v1/diagnostics HTTP/1.1\r\nHost: x\r\nContent-Length: zz\r\n\r\n", chunkedWithTrailer(20000),
        chunkedWithTrailer(65535), chunkedWithTrailer(200000) };
    for (const QByteArray& request : malformed) {
        const QByteArray reply = exchangeRaw(server.baseUrl(), request);
        EXPECT_TRUE(reply.startsWith("HTTP/1.1 400")) << reply.left(100).toStdString();
        EXPECT_TRUE(reply.contains(R"({"error":"bad_request"})")) << request.left(40).toStdString();
    }
    EXPECT_EQ(sendRequest(manager, "GET", endpoint(server, "/v1/nothing")).status, 404);
    EXPECT_EQ(server.stop(), 0);
    const QString log = server.log();
    EXPECT_TRUE(log.contains(
        QRegularExpression("^GET /v1/nothing 404 \\d+ ms$", QRegularExpression::MultilineOption)))
        << log.toStdString();
    EXPECT_TRUE(log.contains(
        QRegularExpression("^PUT /v1/account/state 405 \\d+ ms$", QRegularExpression::MultilineOption)));
    EXPECT_FALSE(log.contains("secret"));
}

// The sign-in page's address comes from where the server listens, or from --public-url,
// never from the Host header a client sends.
TEST(ControlPlaneHttp, SignInAddressIsTheServersOwn)
{
    const QByteArray start = "{\"device_public_key\":\""
        + DeviceIdentity(*P256PrivateKey::generate()).publicKeyBase64URL().toLatin1()
        + "\",\"platform\":\"linux\",\"state\":\"a-state-of-twenty-two-chars\"}";
    const QByteArray forged = "POST /v1/auth/apple/web/start HTTP/1.1\r\nHost: evil.example\r\n"
                              "Connection: close\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(start.size()) + "\r\n\r\n" + start;
    const auto pageOf = [&](const ControlPlaneProcess& server) {
        const QByteArray reply = exchangeRaw(server.baseUrl(), forged);
        const QJsonObject body = QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4)).object();
        return QUrl(body.value("authorization_url").toString()).adjusted(QUrl::RemoveQuery);
    };
    ControlPlaneProcess local({ "--dev-sign-in" });
    ASSERT_TRUE(local.started());
    EXPECT_EQ(pageOf(local), local.baseUrl().resolved(QUrl("/dev/sign-in")));
    ControlPlaneProcess proxied({ "--dev-sign-in", "--public-url", "https://lumora.example.com" });
    ASSERT_TRUE(proxied.started());
    EXPECT_EQ(pageOf(proxied), QUrl("https://lumora.example.com/dev/sign-in"));
    EXPECT_EQ(local.stop(), 0) << local.log().toStdString();
    EXPECT_EQ(proxied.stop(), 0);
}

TEST(ControlPlaneHttp, ServesHttpsWithTheGivenCertificate)
{
    TestCertificates certificates;
    ASSERT_TRUE(certificates.valid());
    ControlPlaneProcess server(
        { "--tls-cert", certificates.serverCertificate(), "--tls-key", certificates.serverKey() });
    ASSERT_TRUE(server.started());
    EXPECT_EQ(server.baseUrl().scheme(), "https");
    QNetworkAccessManager manager;
    const auto reply
        = sendRequest(manager, "GET", endpoint(server, "/v1/nothing"), {}, {}, certificates.caCertificate());
    EXPECT_EQ(reply.status, 404);
    EXPECT_EQ(reply.error, QNetworkReply::ContentNotFoundError);

    // Without the test CA the certificate is not trusted.
    QNetworkAccessManager other;
    EXPECT_EQ(sendRequest(other, "GET", endpoint(server, "/v1/nothing")).status, 0);

    // TLS 1.2 is spoken with authenticated encryption only, never with a CBC suite.
    const auto handshakes = [&](const char* cipher) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(certificates.caCertificate()));
        tls.setProtocol(QSsl::TlsV1_2);
        tls.setCiphers({ QSslCipher(QString::fromLatin1(cipher)) });
        QSslSocket socket;
        socket.setSslConfiguration(tls);
        socket.connectToHostEncrypted(server.baseUrl().host(), static_cast<quint16>(server.baseUrl().port()));
        return socket.waitForEncrypted(60000);
    };
    EXPECT_TRUE(handshakes("ECDHE-ECDSA-AES128-GCM-SHA256"));
    EXPECT_TRUE(handshakes("ECDHE-ECDSA-CHACHA20-POLY1305"));
    for (const char* cbc :
        { "ECDHE-ECDSA-AES128-SHA256", "ECDHE-ECDSA-AES256-SHA384", "ECDHE-ECDSA-AES128-SHA" })
        EXPECT_FALSE(handshakes(cbc)) << cbc;
    EXPECT_EQ(server.stop(), 0);
}

// A TLS client of OpenSSL's own on a connection to 127.0.0.1, offering the key-exchange
// groups it is given: what the test needs beyond the application's client, which offers its
// library's defaults.
class TlsClient {
public:
    // From `source` when given; a read or write waits at most `patience` seconds.
    TlsClient(
        const QUrl& base, const char* groups, const char* source = nullptr, timeval patience = { 10, 0 })
        : m_context(::SSL_CTX_new(::TLS_client_method()))
        , m_socket(connectTo(base, source))
    {
        if (!m_context || m_socket < 0 || ::SSL_CTX_set1_groups_list(m_context, groups) != 1)
            return;
        ::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        ::setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
        ::SSL_CTX_set_verify(m_context, SSL_VERIFY_NONE, nullptr);
        m_tls = ::SSL_new(m_context);
        ::SSL_set_fd(m_tls, m_socket);
        m_secured = ::SSL_connect(m_tls) == 1;
    }
    ~TlsClient()
    {
        ::SSL_free(m_tls);
        ::SSL_CTX_free(m_context);
        if (m_socket >= 0)
            ::close(m_socket);
    }
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    [[nodiscard]] bool secured() const { return m_secured; }
    [[nodiscard]] std::string group() const
    {
        const int group = m_secured ? ::SSL_get_negotiated_group(m_tls) : 0;
        const char* name = group != 0 ? ::SSL_group_to_name(m_tls, group) : nullptr;
        return name ? name : "";
    }
    bool send(QByteArrayView bytes)
    {
        return m_secured && ::SSL_write(m_tls, bytes.data(), static_cast<int>(bytes.size())) == bytes.size();
    }

    // Whether an answer has begun; what follows is left unread.
    bool answered()
    {
        char first[16] {};
        return m_secured && ::SSL_read(m_tls, first, sizeof first - 1) > 0
            && std::string_view(first).starts_with("HTTP/1.1 ");
    }

private:
    SSL_CTX* m_context;
    int m_socket;
    SSL* m_tls = nullptr;
    bool m_secured = false;
};

// Key exchange over X25519, P-256 or P-384 only: the finite-field groups cost the server a
// hundred times the CPU of a handshake, so a client offering only those is refused.
TEST(ControlPlaneHttp, AgreesKeysOnlyOverTheCheapCurves)
{
    TestCertificates certificates;
    ASSERT_TRUE(certificates.valid());
    ControlPlaneProcess server(
        { "--tls-cert", certificates.serverCertificate(), "--tls-key", certificates.serverKey() });
    ASSERT_TRUE(server.started());
    for (const auto& [offered, agreed] : { std::pair { "X25519", "x25519" }, { "P-256", "secp256r1" },
             { "P-384", "secp384r1" }, { "ffdhe8192:X25519", "x25519" } }) {
        const TlsClient client(server.baseUrl(), offered);
        EXPECT_TRUE(client.secured()) << offered;
        EXPECT_EQ(client.group(), agreed) << offered;
    }
    for (const char* offered : { "ffdhe2048", "ffdhe8192", "P-521", "X448" })
        EXPECT_FALSE(TlsClient(server.baseUrl(), offered).secured()) << offered;
    EXPECT_EQ(server.stop(), 0);
}

// The descriptors the process may open (its soft limit), from /proc.
qulonglong descriptorLimitOf(qint64 pid)
{
    QFile limits(QStringLiteral("/proc/%1/limits").arg(pid));
    if (!limits.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : limits.readAll().split('\n')) {
        if (line.startsWith("Max open files"))
            return line.mid(14).simplified().split(' ').value(0).toULongLong();
    }
    return 0;
}

// How many connections from `source` to the server at `base` the server still holds: the
// client's end of one the server closed is no longer established.
int heldFrom(const QUrl& base, const char* source)
{
    in_addr from {};
    ::inet_pton(AF_INET, source, &from);
    // The kernel writes each address as its 32 bits in the machine's order, and the port too.
    const QByteArray local = QByteArray::number(from.s_addr, 16).rightJustified(8, '0').toUpper() + ':';
    const QByteArray remote = ':' + QByteArray::number(base.port(), 16).rightJustified(4, '0').toUpper();
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    int held = 0;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1].startsWith(local) && fields[2].endsWith(remote)
            && fields[3] == "01")
            ++held;
    }
    return held;
}

// Clients that are answered but then neither read their answer to the end, nor close, nor
// answer the TLS close, keep nobody else out: what follows an answer makes way first and ends
// soon, one address holds a bounded part of the connections, and the server starts with as
// many descriptors as its hard limit allows.
TEST(ControlPlaneHttp, AnsweredClientsThatStayOpenLeaveRoomForOthers)
{
    TestCertificates certificates;
    ASSERT_TRUE(certificates.valid());
    const QStringList tls { "--tls-cert", certificates.serverCertificate(), "--tls-key",
        certificates.serverKey() };
    {
        rlimit own {};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &own), 0);
        ASSERT_GT(own.rlim_max, 512U);
        // The server inherits the lower soft limit.
        const rlimit lowered { 512, own.rlim_max };
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
        ControlPlaneProcess raised(tls);
        ::setrlimit(RLIMIT_NOFILE, &own);
        ASSERT_TRUE(raised.started());
        EXPECT_EQ(descriptorLimitOf(raised.processId()), own.rlim_max);
        EXPECT_EQ(raised.stop(), 0);
    }

    // 256 descriptors leave room for 192 connections: more answered clients than that come from
    // one address, one after another, as long as the server lets them in.
    ControlPlaneProcess server(QStringList { "--dev-sign-in" } + tls, 256);
    ASSERT_TRUE(server.started());
    std::vector<std::unique_ptr<TlsClient>> answered;
    while (answered.size() < 200) {
        answered.push_back(
            std::make_unique<TlsClient>(server.baseUrl(), "X25519", "127.0.0.2", timeval { 0, 300'000 }));
        if (!answered.back()->send("GET /v1/nothing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            || !answered.back()->answered())
            break;
    }
    EXPECT_EQ(answered.size(), 200U) << "a new client waits for room";
    EXPECT_LE(heldFrom(server.baseUrl(), "127.0.0.2"), 20);
    QElapsedTimer waiting;
    waiting.start();
    QNetworkAccessManager manager;
    const QByteArray start = "{\"device_public_key\":\""
        + DeviceIdentity(*P256PrivateKey::generate()).publicKeyBase64URL().toLatin1()
        + "\",\"platform\":\"linux\",\"state\":\"a-state-of-twenty-two-chars\"}";
    const TestReply started = sendRequest(manager, "POST", endpoint(server, "/v1/auth/apple/web/start"),
        start, { { "Content-Type", "application/json" } }, certificates.caCertificate());
    EXPECT_EQ(started.status, 200) << started.body.toStdString();
    EXPECT_LT(waiting.elapsed(), 3000) << "a sign-in waits for room";
    EXPECT_EQ(server.stop(), 0);
}

TEST(ControlPlaneHttp, RefusesToStartWithoutWhatItNeeds)
{
    const QTemporaryDir dir;
    const auto secretFile = [&](const char* name, const QByteArray& text, QFileDevice::Permissions mode) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.setPermissions(mode);
        return file.fileName();
    };
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const QString shortSecret = secretFile("short.key", "too short\n", ownerOnly);
    // Anyone on the machine could mint speech tokens with a secret they can read.
    const QString sharedSecret
        = secretFile("shared.key", QByteArray(40, 's'), ownerOnly | QFileDevice::ReadOther);
    // Opening a FIFO waits for a writer that never comes.
    const QString fifo = dir.filePath("fifo.key");
    EXPECT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // The server's TLS identity, readable by anyone on the machine.
    TestCertificates certificates;
    ASSERT_TRUE(certificates.valid());
    QFile tlsKey(certificates.serverKey());
    ASSERT_TRUE(tlsKey.open(QIODevice::ReadOnly));
    const QString sharedTlsKey = secretFile(
        "shared-tls.key", tlsKey.readAll(), ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    const auto local = [&](const char* database, const QStringList& more) {
        return QStringList { "--listen", "127.0.0.1:0", "--database", "sqlite:" + dir.filePath(database) }
        + more;
    };
    struct Case {
        QStringList arguments;
        int code;
        std::string message;
    };
    const Case cases[] = {
        { { "--listen", "0.0.0.0:0" }, 2, "loopback" },
        { local("tls.sqlite",
              { "--tls-cert", dir.filePath("none.pem"), "--tls-key", dir.filePath("none.key") }),
            1, "certificate" },
        { local("dev.sqlite", { "--listen", "0.0.0.0:0", "--allow-plain-http", "--dev-sign-in" }), 2,
            "--dev-sign-in" },
        { local("cp.sqlite", { "--speech-token-secret", shortSecret }), 1, "speech token secret" },
        { local("cp.sqlite", { "--speech-token-secret", sharedSecret }), 1, "owner-only" },
        { local("cp.sqlite", { "--speech-token-secret", dir.filePath("missing.key") }), 1,
            "speech token secret" },
        { local("cp.sqlite", { "--content-key-file", fifo }), 1,
            "content key file " + fifo.toStdString() + " is not a regular file" },
        { local("shared-tls.sqlite",
              { "--tls-cert", certificates.serverCertificate(), "--tls-key", sharedTlsKey }),
            1, "TLS private key " + sharedTlsKey.toStdString() + " may be read or changed by others" },
        { { "--help" }, 0, "--listen HOST:PORT" },
    };
    for (const Case& item : cases) {
        const auto [code, message] = ControlPlaneProcess::runToEnd(item.arguments);
        EXPECT_EQ(code, item.code) << item.arguments.join(' ').toStdString();
        EXPECT_TRUE(message.contains(QString::fromStdString(item.message))) << message.toStdString();
    }
    // A start refused for its secret leaves no database behind.
    EXPECT_FALSE(QFile::exists(dir.filePath("cp.sqlite")));
}

} // namespace
} // namespace lumora

namespace lumora {
namespace {

using testing::Backend;
using testing::TestDatabase;

// Servers that share one PostgreSQL database serve the same accounts: a nonce used on one
// is refused by the other, wrong partner codes typed on either count towards one limit,
// and a revocation made through one counts on the other at once.
TEST(ControlPlaneHttp, InstancesOnOneDatabaseShareNoncesGuessesAndRevocations)
{
    const TestDatabase database(Backend::postgresql);
    ASSERT_FALSE(database.failed());
    if (database.url().isEmpty())
        GTEST_SKIP() << "no PostgreSQL server";
    ControlPlaneProcess first({ "--dev-sign-in", "--database", database.url() });
    ControlPlaneProcess second({ "--dev-sign-in", "--database", database.url() });
    ASSERT_TRUE(first.started() && second.started());
    const DeviceIdentity identity(*P256PrivateKey::generate());
    const QUuid device = signInOver(first, identity, "Ada");
    ASSERT_FALSE(device.isNull());

    const QByteArray once = signedBy(identity, device, "GET", "/v1/account/state");
    EXPECT_EQ(accountStateOver(second, once).status, 200);
    EXPECT_EQ(codeOf(accountStateOver(first, once)), "401 replayed_nonce");
    EXPECT_EQ(codeOf(accountStateOver(second, once)), "401 replayed_nonce");

    const DeviceIdentity guesser(*P256PrivateKey::generate());
    const QUuid guessing = signInOver(second, guesser, "Bob");
    const QJsonObject wrong { { "code", "0000-0000-0000" } };
    for (int guess = 0; guess < 10; ++guess)
        EXPECT_EQ(codeOf(postSigned(
                      guess % 2 ? first : second, guesser, guessing, "/v1/pairing/invites/redeem", wrong)),
            "404 pairing_invite_not_found");
    for (const ControlPlaneProcess* server : { &first, &second })
        EXPECT_EQ(codeOf(postSigned(*server, guesser, guessing, "/v1/pairing/invites/redeem", wrong)),
            "429 too_many_attempts");

    // Each has read the device's key by now; the revocation still counts on the other.
    EXPECT_EQ(accountStateOver(first, signedBy(identity, device, "GET", "/v1/account/state")).status, 200);
    const QByteArray revoke
        = QJsonDocument(QJsonObject { { "device_id", device.toString(QUuid::WithoutBraces) } }).toJson();
    QNetworkAccessManager manager;
    const auto revoked = sendRequest(manager, "POST", endpoint(first, "/v1/devices/revoke"), revoke,
        { { "Content-Type", "application/json" },
            { "Authorization", signedBy(identity, device, "POST", "/v1/devices/revoke", revoke) } });
    EXPECT_EQ(revoked.status, 200) << revoked.body.toStdString();
    EXPECT_EQ(codeOf(accountStateOver(second, signedBy(identity, device, "GET", "/v1/account/state"))),
        "401 device_revoked");
    EXPECT_EQ(first.stop(), 0);
    EXPECT_EQ(second.stop(), 0);
}

// A nonce recorded just before the server was killed is still refused after its restart.
TEST(ControlPlaneHttp, ReplayIsRefusedAfterAKillAndRestart)
{
    const QTemporaryDir dir;
    const QStringList arguments { "--dev-sign-in", "--database", "sqlite:" + dir.filePath("cp.sqlite") };
    const DeviceIdentity identity(*P256PrivateKey::generate());
    QByteArray once;
    {
        ControlPlaneProcess server(arguments);
        ASSERT_TRUE(server.started());
        const QUuid device = signInOver(server, identity, "Ada");
        once = signedBy(identity, device, "GET", "/v1/account/state");
        EXPECT_EQ(accountStateOver(server, once).status, 200);
        server.kill();
    }
    ControlPlaneProcess restarted(arguments);
    ASSERT_TRUE(restarted.started());
    EXPECT_EQ(codeOf(accountStateOver(restarted, once)), "401 replayed_nonce");
}

} // namespace
} // namespace lumora
