#pragma once

#include "ServerProcess.hpp"

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>
#include <utility>

class QNetworkAccessManager;
class QSslCertificate;

namespace lumora::testing {

// A test CA and a certificate for 127.0.0.1 signed by it, made with openssl in a
// temporary folder that lives as long as this object.
class TestCertificates {
public:
    TestCertificates();
    [[nodiscard]] bool valid() const { return m_valid; }
    [[nodiscard]] QString caCertificate() const { return m_dir.filePath("ca.crt"); }
    [[nodiscard]] QString serverCertificate() const { return m_dir.filePath("server.crt"); }
    [[nodiscard]] QString serverKey() const { return m_dir.filePath("server.key"); }

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};

// The real lumora-control-plane with a fresh SQLite database in its folder (unless the
// arguments name another) and a content key of its own there (unless they name one: the
// file's path is `contentKeyPath()`), without limits of sign-in starts (unless they set one), with at most
// `descriptorLimit` open files when that is given, and with the "NAME=value" entries of `environment` added
// to its environment.
class ControlPlaneProcess : public ServerProcess {
public:
    explicit ControlPlaneProcess(
        QStringList arguments, int descriptorLimit = 0, const QStringList& environment = {});

    [[nodiscard]] QString databasePath() const { return filePath("control-plane.sqlite"); }
    [[nodiscard]] QString contentKeyPath() const { return filePath("content.key"); }

    // Runs the executable to its end with these arguments (for refusals at start), with a
    // content key unless they name one.
    static std::pair<int, QString> runToEnd(const QStringList& arguments);
};

struct TestReply {
    int status = 0;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QList<std::pair<QByteArray, QByteArray>> headers;
    [[nodiscard]] QByteArray header(const QByteArray& name) const;
};

struct TestRequest {
    QByteArray method;
    QUrl url;
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
};

// Sends every request at once, each over a connection of its own, and waits for all the
// replies: what tests use to race requests against each other. Replies in request order.
QList<TestReply> sendTogether(const QList<TestRequest>& requests, const QString& caCertificate = {});

// One request without any client logic of the application: what tests use to send
// forged, replayed or malformed requests. Redirects are not followed.
TestReply sendRequest(QNetworkAccessManager& manager, const QByteArray& method, const QUrl& url,
    const QByteArray& body = {}, const QList<std::pair<QByteArray, QByteArray>>& headers = {},
    const QString& caCertificate = {});

} // namespace lumora::testing
