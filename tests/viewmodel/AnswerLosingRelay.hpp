#pragma once

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QUrl>
#include <gtest/gtest.h>

namespace lumora::testing {

// An HTTPS relay on 127.0.0.1 in front of a server: every request goes on to the server, and
// every answer comes back, except the answers to requests for one path once it is named. Such an
// answer is read from the server and dropped, and the client's connection cut: the request has
// arrived and been acted on, and the client never learns it, as when the network fails (or the
// program is killed) at that moment.
class AnswerLosingRelay {
public:
    // On `port`, or any free one when 0.
    AnswerLosingRelay(QUrl target, const QString& certificate, const QString& key, quint16 port = 0)
        : m_target(std::move(target))
    {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(QSslCertificate(contents(certificate)));
        configuration.setPrivateKey(QSslKey(contents(key), QSsl::Ec));
        m_listener.setSslConfiguration(configuration);
        EXPECT_TRUE(m_listener.listen(QHostAddress::LocalHost, port));
        QObject::connect(&m_listener, &QTcpServer::pendingConnectionAvailable, &m_listener, [this] {
            while (auto* client = qobject_cast<QSslSocket*>(m_listener.nextPendingConnection()))
                relay(client);
        });
    }

    [[nodiscard]] QUrl baseUrl() const
    {
        QUrl url = m_target;
        url.setPort(m_listener.serverPort());
        return url;
    }

    // From now on the answers to requests for `path` are lost.
    void loseAnswersTo(const QByteArray& path) { m_lostPath = path; }
    [[nodiscard]] int lostAnswers() const { return m_lost; }

private:
    static QByteArray contents(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void relay(QSslSocket* client)
    {
        // Owned by the client's connection, and closed with it.
        auto* server = new QSslSocket(client);
        auto losing = std::make_shared<bool>(false);
        const auto forward = [this, client, server, losing] {
            if (!server->isEncrypted())
                return;
            const QByteArray request = client->readAll();
            if (!m_lostPath.isEmpty() && request.contains(" " + m_lostPath + " HTTP/"))
                *losing = true;
            server->write(request);
        };
        QObject::connect(client, &QSslSocket::readyRead, server, forward);
        QObject::connect(server, &QSslSocket::encrypted, server, forward);
        QObject::connect(server, &QSslSocket::readyRead, client, [this, client, server, losing] {
            const QByteArray answer = server->readAll();
            if (!*losing) {
                client->write(answer);
                return;
            }
            ++m_lost;
            server->disconnect();
            server->abort();
            client->abort();
            client->deleteLater();
        });
        QObject::connect(
            server, &QSslSocket::disconnected, client, [client] { client->disconnectFromHost(); });
        QObject::connect(client, &QSslSocket::disconnected, client, [client] { client->deleteLater(); });
        server->connectToHostEncrypted(m_target.host(), quint16(m_target.port()));
    }

    QUrl m_target;
    QSslServer m_listener;
    QByteArray m_lostPath;
    int m_lost = 0;
};

} // namespace lumora::testing
