#include "controlplane/DeepgramGrantClient.hpp"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

// A bearer token goes into the application's "Authorization" header: visible ASCII only.
bool isTokenText(const QString& token)
{
    return !token.isEmpty() && token.size() <= DeepgramGrantClient::maximumTokenLength
        && std::ranges::all_of(token, [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
}

} // namespace

DeepgramGrantClient::DeepgramGrantClient(std::shared_ptr<const HttpsClient> http, std::string apiKey,
    ProviderLog log, std::chrono::milliseconds timeout)
    : m_http(std::move(http))
    , m_apiKey(std::move(apiKey))
    , m_log(std::move(log))
    , m_timeout(timeout)
{
}

std::expected<SpeechGrant, std::string> DeepgramGrantClient::grant(qint64 lifetime) const
{
    auto result = request(std::clamp<qint64>(lifetime, 1, maximumLifetime));
    if (!result && m_log)
        m_log("speech grant: the provider gave no token: " + result.error());
    return result;
}

std::expected<SpeechGrant, std::string> DeepgramGrantClient::request(qint64 lifetime) const
{
    HttpsCall call;
    call.path = grantPath;
    call.headers = { { "Authorization", "Token " + m_apiKey }, { "Content-Type", "application/json" },
        { "Accept", "application/json" } };
    call.body = QJsonDocument(QJsonObject { { "ttl_seconds", lifetime } })
                    .toJson(QJsonDocument::Compact)
                    .toStdString();
    call.timeout = m_timeout;
    const auto reply = m_http->send(call);
    if (!reply)
        return std::unexpected(std::string(toString(reply.error())));
    return grantOf(*reply, lifetime);
}

std::expected<SpeechGrant, std::string> DeepgramGrantClient::grantOf(const HttpsReply& reply, qint64 lifetime)
{
    if (reply.status < 200 || reply.status > 299)
        return std::unexpected("status " + std::to_string(reply.status));

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(reply.body), &error);
    const QJsonObject object = document.object();
    const QJsonValue token = object.value("access_token");
    if (error.error != QJsonParseError::NoError || !document.isObject() || !token.isString()
        || !isTokenText(token.toString()))
        return std::unexpected(std::string("the reply holds no usable access_token"));
    // The lifetime is optional in the provider's reply; when given, it must be one the
    // provider could have granted, and never more than was asked for.
    qint64 expiresIn = lifetime;
    const QJsonValue given = object.value("expires_in");
    if (!given.isUndefined() && !given.isNull()) {
        const double seconds = given.toDouble(-1);
        if (!given.isDouble() || !std::isfinite(seconds) || seconds < 1 || seconds > double(maximumLifetime))
            return std::unexpected(std::string("the reply's expires_in is out of range"));
        expiresIn = std::min(lifetime, static_cast<qint64>(std::floor(seconds)));
    }
    return SpeechGrant { token.toString(), expiresIn };
}

} // namespace lumora
