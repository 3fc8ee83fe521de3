#include "ScriptedServer.hpp"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpSocket>
#include <QTimer>

namespace lumora::testing {

std::optional<QByteArray> RecordedRequest::find(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

ScriptedServer::ScriptedServer(
    int status, QByteArray body, QByteArray contentType, std::optional<ServerTls> tls)
    : m_status(status)
    , m_body(std::move(body))
    , m_contentType(std::move(contentType))
    , m_tls(tls.has_value())
{
    if (tls) {
        auto server = std::make_unique<QSslServer>();
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(QSslCertificate(contents(tls->certificate)));
        configuration.setPrivateKey(QSslKey(contents(tls->key), QSsl::Ec));
        server->setSslConfiguration(configuration);
        m_server = std::move(server);
    } else {
        m_server = std::make_unique<QTcpServer>();
    }
    m_server->listen(QHostAddress::LocalHost, 0);
    // Over TLS a connection is pending once its handshake is done.
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection())
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
    });
}

ScriptedServer::~ScriptedServer() = default;

QUrl ScriptedServer::baseUrl() const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2")
                    .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(m_server->serverPort()));
}

void ScriptedServer::serve(QTcpSocket* socket)
{
    // Waits until the head and the whole body (by Content-Length) have arrived.
    QByteArray received = socket->property("received").toByteArray() + socket->readAll();
    socket->setProperty("received", received);
    const auto headEnd = received.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    RecordedRequest request;
    const QList<QByteArray> lines = received.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    qsizetype length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const auto colon = lines[i].indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = lines[i].left(colon).trimmed();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        request.headers.append({ name, value });
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            length = value.toLongLong();
    }
    if (received.size() < headEnd + 4 + length)
        return;
    request.body = received.mid(headEnd + 4, length);
    m_requests.append(request);

    QByteArray reply = "HTTP/1.1 " + QByteArray::number(m_status) + " Scripted\r\nConnection: close\r\n";
    if (!m_contentType.isEmpty())
        reply += "Content-Type: " + m_contentType + "\r\n";
    reply += "Content-Length: " + QByteArray::number(m_announcedLength.value_or(m_body.size())) + "\r\n\r\n"
        + m_body;
    if (m_trickleInterval) {
        auto* timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [socket, timer, reply, sent = qsizetype(0)]() mutable {
            socket->write(reply.mid(sent++, 1));
            if (sent == reply.size())
                timer->stop();
        });
        timer->start(*m_trickleInterval);
        return;
    }
    socket->write(reply);
    socket->disconnectFromHost();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

} // namespace lumora::testing
