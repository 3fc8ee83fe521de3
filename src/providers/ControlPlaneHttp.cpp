#include "providers/ControlPlaneHttp.hpp"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrlQuery>
#include <memory>
#include <qcoro/qcoronetworkreply.h>

namespace lumora::controlplanehttp {

namespace {

// Failures of the connection itself, as opposed to the errors Qt derives from an HTTP status
// (407 among the proxy errors). A reply that breaks off in its body has a status and one of these.
bool isTransportError(QNetworkReply::NetworkError error)
{
    const int code = error;
    return (code > 0 && code < 100)
        || (code > 100 && code < 200 && error != QNetworkReply::ProxyAuthenticationRequiredError)
        || error == QNetworkReply::ProtocolFailure;
}

// "Retry-After" as a number of seconds; nullopt when absent or given as a date.
std::optional<int> retryAfterSeconds(const QNetworkReply& reply)
{
    bool ok = false;
    const int seconds = reply.rawHeader("Retry-After").trimmed().toInt(&ok);
    return ok && seconds >= 0 ? std::optional(seconds) : std::nullopt;
}

} // namespace

std::optional<QUrl> requestUrl(const QUrl& base, const QString& path, const QueryItems& query)
{
    if (!base.isValid() || base.isRelative())
        return std::nullopt;
    QUrl url = base;
    QString basePath = base.path();
    while (basePath.endsWith(u'/'))
        basePath.chop(1);
    QString appended = path;
    while (appended.startsWith(u'/'))
        appended.remove(0, 1);
    url.setPath(basePath + u'/' + appended);
    url.setQuery(QString());
    url.setFragment(QString());
    if (!query.isEmpty()) {
        QUrlQuery items;
        items.setQueryItems(query);
        url.setQuery(items);
    }
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QNetworkRequest jsonRequest(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(requestTimeoutMilliseconds);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    return request;
}

QCoro::Task<std::expected<HttpReply, ControlPlaneFailure>> send(
    QNetworkAccessManager& manager, QNetworkRequest request, QByteArray method, QByteArray body)
{
    const std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(
        manager.sendCustomRequest(request, method, body), [](QNetworkReply* r) { r->deleteLater(); });
    // Emitted for each connection made for this reply, the one Qt makes to send it again
    // included; held apart from this frame, which may end first.
    const auto connected = std::make_shared<bool>(false);
    QObject::connect(reply.get(), &QNetworkReply::encrypted, reply.get(), [connected] { *connected = true; });
    co_await reply.get();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    if (status.isValid() && !isTransportError(error)) {
        QByteArray received = reply->readAll();
        // Qt may report only the status's own error, or none, for a reply that broke off; the
        // announced length tells. (Qt drops the header when it decompresses a body itself.)
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && received.size() < length.toLongLong())
            co_return std::unexpected(
                ControlPlaneFailure(TransportError { QNetworkReply::RemoteHostClosedError,
                    QStringLiteral("the reply ended after %1 of %2 bytes")
                        .arg(received.size())
                        .arg(length.toLongLong()),
                    true }));
        co_return HttpReply { status.toInt(), std::move(received), retryAfterSeconds(*reply) };
    }
    if (error != QNetworkReply::NoError)
        co_return std::unexpected(
            ControlPlaneFailure(TransportError { error, reply->errorString(), *connected }));
    co_return std::unexpected(ControlPlaneFailure(ControlPlaneError::invalidResponse()));
}

} // namespace lumora::controlplanehttp
