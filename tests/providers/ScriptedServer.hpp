#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>
#include <QUrl>
#include <memory>
#include <optional>
#include <utility>

namespace lumora::testing {

struct RecordedRequest {
    QByteArray method;
    QByteArray target;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    [[nodiscard]] std::optional<QByteArray> find(const QByteArray& name) const;
    [[nodiscard]] QByteArray header(const QByteArray& name) const
    {
        return find(name).value_or(QByteArray());
    }
    [[nodiscard]] bool hasHeader(const QByteArray& name) const { return find(name).has_value(); }
};

// The certificate and key files of a server that speaks TLS.
struct ServerTls {
    QString certificate;
    QString key;
};

// An HTTP server on 127.0.0.1 (over TLS when given a certificate) that answers every request
// with one scripted reply and records what it received: for replies the real control plane
// never gives.
class ScriptedServer : public QObject {
public:
    ScriptedServer(int status, QByteArray body, QByteArray contentType = "application/json",
        std::optional<ServerTls> tls = std::nullopt);
    ~ScriptedServer() override;

    [[nodiscard]] QUrl baseUrl() const;
    [[nodiscard]] const QList<RecordedRequest>& requests() const { return m_requests; }
    // Announces a Content-Length other than the body's: a longer one makes a reply that is
    // cut off when the server closes the connection.
    void announceLength(qsizetype length) { m_announcedLength = length; }
    // Sends each reply one byte every `milliseconds`, as a server that holds a client does.
    void trickle(int milliseconds) { m_trickleInterval = milliseconds; }
    // Answers the next requests with this reply instead.
    void script(int status, QByteArray body)
    {
        m_status = status;
        m_body = std::move(body);
    }

private:
    void serve(QTcpSocket* socket);

    std::unique_ptr<QTcpServer> m_server;
    int m_status;
    QByteArray m_body;
    QByteArray m_contentType;
    bool m_tls = false;
    std::optional<qsizetype> m_announcedLength;
    std::optional<int> m_trickleInterval;
    QList<RecordedRequest> m_requests;
};

} // namespace lumora::testing
