#include "providers/DeepgramClient.hpp"

#include "domain/OffThread.hpp"
#include "providers/ControlPlaneFailure.hpp"
#include "providers/DeepgramResponseDecoder.hpp"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <memory>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcoronetworkreply.h>

namespace lumora {

namespace {

std::unexpected<ProviderFailure> failure(ControlPlaneFailure failure)
{
    return std::unexpected(ProviderFailure(std::move(failure)));
}

} // namespace

DeepgramClient::DeepgramClient(QNetworkAccessManager& session, QUrl baseURL,
    std::optional<QSslConfiguration> tls, std::chrono::milliseconds inactivityLimit)
    : m_session(session)
    , m_baseURL(std::move(baseURL))
    , m_tls(std::move(tls))
    , m_inactivityLimit(inactivityLimit)
{
}

QUrl DeepgramClient::requestURL(const QUrl& baseURL)
{
    QUrl url = baseURL;
    url.setPath(QStringLiteral("/v1/listen"));
    url.setQuery(QStringLiteral(
        "model=nova-3&diarize=true&smart_format=true&punctuate=true&utterances=true&mip_opt_out=true"));
    url.setFragment(QString());
    return url;
}

QCoro::Task<std::expected<DeepgramTranscript, ProviderFailure>> DeepgramClient::transcribeFinal(
    QUrl audioURL, QString mimeType, DeepgramGrant grant) const
{
    // Parented to the reply below, so the file stays open exactly as long as the upload.
    auto file = std::make_unique<QFile>(audioURL.toLocalFile());
    if (!audioURL.isLocalFile() || !file->open(QIODevice::ReadOnly))
        co_return failure(TransportError { QNetworkReply::ContentNotFoundError,
            QStringLiteral("cannot read the recording: ") + file->errorString() });

    QNetworkRequest request(requestURL(m_baseURL));
    request.setTransferTimeout(static_cast<int>(m_inactivityLimit.count()));
    request.setRawHeader("Authorization", "Bearer " + grant.accessToken.toUtf8());
    request.setRawHeader("Content-Type", mimeType.toUtf8());
    if (m_tls)
        request.setSslConfiguration(*m_tls);

    const std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(
        m_session.post(request, file.get()), [](QNetworkReply* r) { r->deleteLater(); });
    file.release()->setParent(reply.get());
    co_await reply.get();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        if (reply->error() != QNetworkReply::NoError)
            co_return failure(TransportError { reply->error(), reply->errorString() });
        co_return failure(ControlPlaneError::invalidResponse());
    }
    const int code = status.toInt();
    if (code < 200 || code > 299)
        co_return failure(ControlPlaneError::invalidResponse());
    // A 2xx reply whose body stopped coming (the inactivity limit, a reset) is the network's.
    if (reply->error() != QNetworkReply::NoError)
        co_return failure(TransportError { reply->error(), reply->errorString() });
    // The transcript of an hour's recording is large: decoded on a pool thread.
    struct Decoded {
        std::expected<DeepgramTranscript, JsonDecodeError> transcript;
    };
    const auto decoding = startOffThread(
        [body = reply->readAll()] { return Decoded { DeepgramResponseDecoder::decode(body) }; });
    auto decoded = std::move((*co_await qCoro(decoding).waitForFinished()).transcript);
    if (!decoded)
        co_return failure(decoded.error());
    co_return std::move(*decoded);
}

} // namespace lumora
