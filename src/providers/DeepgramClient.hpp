#pragma once

#include "providers/FinalTranscriptionProvider.hpp"

#include <QSslConfiguration>
#include <QUrl>
#include <chrono>
#include <optional>

class QNetworkAccessManager;

namespace lumora {

// Transcribes a finished recording with the speech provider's pre-recorded endpoint.
// Holds no state beyond its construction; the network access manager is shared and must
// outlive the client.
//
// Failures arrive inside the `ProviderFailure` as a `ControlPlaneFailure`: the network's
// `TransportError` (also for a file that cannot be read, and for the inactivity limit),
// `ControlPlaneError::invalidResponse()` for a non-HTTP reply or a status outside
// 200...299 (its body is not read), or the decoder's `JsonDecodeError`.
class DeepgramClient final : public FinalTranscriptionProvider {
public:
    // The real provider's API host; tests and local runs name the stand-in instead.
    static QUrl defaultBaseURL() { return QUrl(QStringLiteral("https://api.deepgram.com")); }
    // The upload is abandoned after this long without any bytes moving either way; a long
    // recording that keeps moving may take as long as it needs.
    static constexpr std::chrono::milliseconds defaultInactivityLimit { 60'000 };

    // `baseURL`: scheme and host (and port) of the provider; the request goes to its
    // "/v1/listen". `tls`, when given, is the TLS configuration of every request (a test
    // CA, for instance); otherwise the process default applies.
    explicit DeepgramClient(QNetworkAccessManager& session, QUrl baseURL = defaultBaseURL(),
        std::optional<QSslConfiguration> tls = std::nullopt,
        std::chrono::milliseconds inactivityLimit = defaultInactivityLimit);

    // The pre-recorded listen URL under `baseURL`, with the fixed query.
    static QUrl requestURL(const QUrl& baseURL);

    // Streams the file from disk as the request body; it is never read into memory whole.
    [[nodiscard]] QCoro::Task<std::expected<DeepgramTranscript, ProviderFailure>> transcribeFinal(
        QUrl audioURL, QString mimeType, DeepgramGrant grant) const override;

private:
    QNetworkAccessManager& m_session;
    QUrl m_baseURL;
    std::optional<QSslConfiguration> m_tls;
    std::chrono::milliseconds m_inactivityLimit;
};

} // namespace lumora
