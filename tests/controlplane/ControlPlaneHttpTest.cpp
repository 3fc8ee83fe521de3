#include "ControlPlaneProcess.hpp"
#include "security/DeviceIdentity.hpp"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::ControlPlaneProcess;
using testing::sendRequest;
using testing::TestCertificates;

QUrl endpoint(const ControlPlaneProcess& server, const QString& path)
{
    return server.baseUrl().resolved(QUrl(path));
}

// Writes raw bytes and reads until the server closes the connection.
QByteArray exchangeRaw(const QUrl& base, const QByteArray& bytes)
{
    QTcpSocket socket;
    socket.connectToHost(base.host(), static_cast<quint16>(base.port()));
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(bytes);
    QByteArray reply;
    while (socket.waitForReadyRead(5000))
        reply += socket.readAll();
    return reply;
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

    // At the limit the body is read and judged by the call itself.
    const QByteArray atLimit(2 * 1024 * 1024, ' ');
    EXPECT_EQ(
        sendRequest(manager, "POST", endpoint(server, "/v1/auth/apple/web/start"), atLimit).status, 400);

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
        + "\",\"platform\":\"linux\"}";
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
    EXPECT_EQ(local.stop(), 0);
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
    EXPECT_EQ(server.stop(), 0);
}

TEST(ControlPlaneHttp, RefusesToStartWithoutWhatItNeeds)
{
    const QTemporaryDir dir;
    QFile shortSecret(dir.filePath("short.key"));
    ASSERT_TRUE(shortSecret.open(QIODevice::WriteOnly));
    shortSecret.write("too short\n");
    shortSecret.close();
    const auto local = [&](const char* database, const QStringList& more) {
        return QStringList { "--listen", "127.0.0.1:0", "--database", "sqlite:" + dir.filePath(database) }
        + more;
    };
    struct Case {
        QStringList arguments;
        int code;
        const char* message;
    };
    const Case cases[] = {
        { { "--listen", "0.0.0.0:0" }, 2, "loopback" },
        { local("tls.sqlite",
              { "--tls-cert", dir.filePath("none.pem"), "--tls-key", dir.filePath("none.key") }),
            1, "certificate" },
        { local("dev.sqlite", { "--listen", "0.0.0.0:0", "--allow-plain-http", "--dev-sign-in" }), 2,
            "--dev-sign-in" },
        { local("cp.sqlite", { "--speech-token-secret", shortSecret.fileName() }), 1, "speech token secret" },
        { local("cp.sqlite", { "--speech-token-secret", dir.filePath("missing.key") }), 1,
            "speech token secret" },
        { { "--help" }, 0, "--listen HOST:PORT" },
    };
    for (const Case& item : cases) {
        const auto [code, message] = ControlPlaneProcess::runToEnd(item.arguments);
        EXPECT_EQ(code, item.code) << item.arguments.join(' ').toStdString();
        EXPECT_TRUE(message.contains(item.message)) << message.toStdString();
    }
    // A start refused for its secret leaves no database behind.
    EXPECT_FALSE(QFile::exists(dir.filePath("cp.sqlite")));
}

} // namespace
} // namespace lumora
