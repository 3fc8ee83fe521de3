#pragma once

#include "analysis/ModelService.hpp"
#include "controlplane/HttpsClient.hpp"

#include <QString>
#include <chrono>
#include <expected>
#include <memory>
#include <string>

namespace lumora {

// A short-lived credential from the speech provider.
struct SpeechGrant {
    QString accessToken;
    qint64 expiresIn = 0;
};

// Asks the speech provider's token-grant endpoint for a short-lived credential, so that
// the application never holds the long-lived key. Everything the provider answers is
// checked before it is passed on; any failure is logged (without the key) and reported
// as unavailable.
class DeepgramGrantClient {
public:
    static constexpr const char* grantPath = "/v1/auth/grant";
    // The provider grants between 1 s and an hour.
    static constexpr qint64 maximumLifetime = 3600;
    static constexpr qsizetype maximumTokenLength = 8192;

    DeepgramGrantClient(std::shared_ptr<const HttpsClient> http, std::string apiKey, ProviderLog log,
        std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // A credential that lives `lifetime` seconds (1 to an hour) at most.
    std::expected<SpeechGrant, std::string> grant(qint64 lifetime) const;
    // The provider's reply to a grant of `lifetime` seconds: the credential, or why there is
    // none.
    static std::expected<SpeechGrant, std::string> grantOf(const HttpsReply& reply, qint64 lifetime);

private:
    std::expected<SpeechGrant, std::string> request(qint64 lifetime) const;

    std::shared_ptr<const HttpsClient> m_http;
    std::string m_apiKey;
    ProviderLog m_log;
    std::chrono::milliseconds m_timeout;
};

} // namespace lumora
