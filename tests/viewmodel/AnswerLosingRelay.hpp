#pragma once

#include <QFile>
#include <QList>
#include <QRegularExpression>
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
// program is killed) at that moment. It can also stop listening right after it lost an answer, as
// a server that went down once it acted, answer for the server as a gateway in front of it does,
// and move the time of each signed request (a device's or a recovery's), as a client whose clock
// is off would sign it.
class AnswerLosingRelay {
public:
    // What the relay answers itself in place of the server.
    struct Answer {
        int status = 502;
        QByteArray contentType = "text/html";
        QByteArray body = "<html><body>Bad Gateway</body></html>";
    };

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

    [[nodiscard]] quint16 port() const { return m_listener.serverPort(); }

    // From now on the answers to requests for `path` are lost.
    void loseAnswersTo(const QByteArray& path) { m_lostPath = path; }
    [[nodiscard]] int lostAnswers() const { return m_lost; }
    // Once an answer is lost, nothing listens here any more: a client that sends the request
    // again meets a refused connection.
    void stopListeningAfterLoss() { m_stopAfterLoss = true; }
    // The next requests for `path` are answered with `answers`, one each, without reaching the
    // server; then they go on to it again.
    void answerAs(const QByteArray& path, QList<Answer> answers)
    {
        m_answeredPath = path;
        m_answers = std::move(answers);
    }
    // The timestamps of the signed requests are moved by `seconds` on their way.
    void skewClock(qint64 seconds) { m_skew = seconds; }

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
            const QByteArray request = skewed(client->readAll());
            if (!m_answers.isEmpty() && request.contains(" " + m_answeredPath + " HTTP/")) {
                answer(client, m_answers.takeFirst());
                return;
            }
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
            if (m_stopAfterLoss)
                m_listener.close();
        });
        QObject::connect(
            server, &QSslSocket::disconnected, client, [client] { client->disconnectFromHost(); });
        QObject::connect(client, &QSslSocket::disconnected, client, [client] { client->deleteLater(); });
        server->connectToHostEncrypted(m_target.host(), quint16(m_target.port()));
    }

    static void answer(QSslSocket* client, const Answer& answer)
    {
        client->write("HTTP/1.1 " + QByteArray::number(answer.status) + " Relayed\r\nContent-Type: "
            + answer.contentType + "\r\nContent-Length: " + QByteArray::number(answer.body.size())
            + "\r\nConnection: close\r\n\r\n" + answer.body);
        client->disconnectFromHost();
    }

    // "Authorization: Device <device>:<timestamp>:" or "Authorization: Recover <timestamp>:": the
    // time a signed request was signed at.
    QByteArray skewed(QByteArray request) const
    {
        static const QRegularExpression signedAt(
            QStringLiteral("(Authorization: (?:Device [0-9a-f-]+:|Recover ))([0-9]+):"));
        const QRegularExpressionMatch found = signedAt.match(QString::fromLatin1(request));
        if (m_skew == 0 || !found.hasMatch())
            return request;
        const QByteArray moved = QByteArray::number(found.captured(2).toLongLong() + m_skew);
        return request.replace(found.capturedStart(2), found.capturedLength(2), moved);
    }

    QUrl m_target;
    QSslServer m_listener;
    QByteArray m_lostPath;
    int m_lost = 0;
    bool m_stopAfterLoss = false;
    QByteArray m_answeredPath;
    QList<Answer> m_answers;
    qint64 m_skew = 0;
};

} // namespace lumora::testing
