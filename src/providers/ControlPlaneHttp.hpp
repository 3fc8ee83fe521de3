#pragma once

#include "providers/ControlPlaneFailure.hpp"

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>
#include <expected>
#include <optional>
#include <qcoro/qcorotask.h>
#include <utility>

class QNetworkAccessManager;

// What the signed client and the sign-in calls share: building the request and reading an
// HTTP reply. Nothing here signs, decodes or retries.
namespace lumora::controlplanehttp {

using QueryItems = QList<std::pair<QString, QString>>;

// Every control-plane request waits at most this long for the network.
constexpr int requestTimeoutMilliseconds = 60'000;

struct HttpReply {
    int status = 0;
    QByteArray body;
    // The "Retry-After" header in seconds, when the reply carried one in that form.
    std::optional<int> retryAfterSeconds;
};

// `base` with `path` appended as path segments (the base's own path kept, one "/" between
// them, the path's trailing "/" kept) and, when not empty, the query items in order.
// nullopt when no valid URL results.
std::optional<QUrl> requestUrl(const QUrl& base, const QString& path, const QueryItems& query);

// A JSON request: "Content-Type: application/json" and the 60-second timeout.
QNetworkRequest jsonRequest(const QUrl& url);

// Sends one request. Any HTTP status is a reply; no HTTP answer, or one that breaks off
// before its body is complete, is the network's error, or `invalidResponse` when the reply
// carries no status at all.
[[nodiscard]] QCoro::Task<std::expected<HttpReply, ControlPlaneFailure>> send(
    QNetworkAccessManager& manager, QNetworkRequest request, QByteArray method, QByteArray body);

} // namespace lumora::controlplanehttp
