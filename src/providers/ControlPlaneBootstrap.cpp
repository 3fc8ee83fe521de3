#include "providers/ControlPlaneBootstrap.hpp"

#include "domain/JsonObjectReader.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "providers/ControlPlaneHttp.hpp"
#include "security/Base64Url.hpp"
#include "security/DeviceIdentity.hpp"
#include "security/RequestSigner.hpp"
#include "security/SecureRandom.hpp"
#include "wire/ControlPlaneJson.hpp"

#include <QDateTime>
#include <QJsonObject>

namespace lumora {

namespace {

constexpr int unauthorized = 401;

bool succeeded(int status)
{
    return status >= 200 && status <= 299;
}

// The registration replies: "account_id" and "device_id" through the key conversion.
std::expected<DeviceRegistration, ControlPlaneFailure> registration(const QByteArray& body)
{
    auto decoded = makeControlPlaneDecoder().decode<DeviceRegistration>(body);
    if (!decoded)
        return std::unexpected(ControlPlaneFailure(decoded.error()));
    return *decoded;
}

// A sign-in step's refusal: `rejectedWithCode` when its body is the server's error body (the
// window tells a server that offers no sign-in, and too many starts, by its code), else `rejected`.
ControlPlaneFailure signInRefusal(const controlplanehttp::HttpReply& reply)
{
    const auto refusal = makeControlPlaneDecoder().decode<ControlPlaneErrorResponse>(reply.body);
    return ControlPlaneFailure(refusal
            ? ControlPlaneError::rejectedWithCode(reply.status, refusal->error, reply.retryAfterSeconds)
            : ControlPlaneError::rejected(reply.status));
}

// POSTs an unsigned JSON body; a status outside 2xx is the sign-in step's refusal.
QCoro::Task<std::expected<ReplyBody, ControlPlaneFailure>> postUnsigned(
    QUrl baseURL, QString path, QByteArray body, QNetworkAccessManager& session)
{
    const controlplanehttp::QueryItems none;
    const auto url = controlplanehttp::requestUrl(baseURL, path, none);
    if (!url)
        co_return std::unexpected(ControlPlaneFailure(ControlPlaneError::invalidResponse()));
    auto reply = co_await controlplanehttp::send(session, controlplanehttp::jsonRequest(*url), "POST", body);
    if (!reply)
        co_return std::unexpected(reply.error());
    if (!succeeded(reply->status))
        co_return std::unexpected(signInRefusal(*reply));
    co_return ReplyBody { std::move(reply->body) };
}

// POSTs a JSON body signed in the recovery form with the device's key: the proof that the
// caller holds the key the call is about.
QCoro::Task<std::expected<controlplanehttp::HttpReply, ControlPlaneFailure>> postKeySigned(QUrl baseURL,
    QString path, QByteArray body, const DeviceIdentity& deviceIdentity, QNetworkAccessManager& session)
{
    const auto headers = RequestSigner::signRecovery(
        deviceIdentity, u"POST", path, body, QDateTime::currentDateTimeUtc(), QUuid::createUuid());
    if (!headers)
        co_return std::unexpected(ControlPlaneFailure(headers.error()));
    const controlplanehttp::QueryItems none;
    const auto url = controlplanehttp::requestUrl(baseURL, path, none);
    if (!url)
        co_return std::unexpected(ControlPlaneFailure(ControlPlaneError::invalidResponse()));
    QNetworkRequest request = controlplanehttp::jsonRequest(*url);
    request.setRawHeader("Authorization", headers->authorization().toUtf8());
    co_return co_await controlplanehttp::send(session, request, "POST", body);
}

} // namespace

std::expected<AppleWebAuthorizationResponse, JsonDecodeError> AppleWebAuthorizationResponse::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("AppleWebAuthorizationResponse"));
    const QString text = reader.string(u"authorization_url");
    AppleWebAuthorizationResponse response { QUrl(text, QUrl::StrictMode) };
    if (!reader.failed() && (text.isEmpty() || !response.authorizationURL.isValid()))
        reader.fail(u"authorization_url", QStringLiteral("not a URL"));
    return finish(reader, std::move(response));
}

QCoro::Task<std::expected<std::optional<DeviceRegistration>, ControlPlaneFailure>>
ControlPlaneBootstrap::recoverRegisteredDevice(
    QUrl baseURL, const DeviceIdentity& deviceIdentity, QNetworkAccessManager& session)
{
    const QByteArray body = ControlPlaneEncoder().encode(
        { { QStringLiteral("devicePublicKey"), deviceIdentity.publicKeyBase64URL() } });
    auto reply = co_await postKeySigned(
        baseURL, QStringLiteral("/v1/auth/device/recover"), body, deviceIdentity, session);
    if (!reply)
        co_return std::unexpected(reply.error());
    if (reply->status == unauthorized)
        co_return std::nullopt;
    if (!succeeded(reply->status))
        co_return std::unexpected(ControlPlaneFailure(ControlPlaneError::rejected(reply->status)));
    auto found = registration(reply->body);
    if (!found)
        co_return std::unexpected(found.error());
    co_return std::optional<DeviceRegistration>(*found);
}

QCoro::Task<std::expected<QUrl, ControlPlaneFailure>> ControlPlaneBootstrap::beginWebAppleAuthorization(
    QUrl baseURL, const DeviceIdentity& deviceIdentity, QString state, QNetworkAccessManager& session)
{
    const QByteArray body = ControlPlaneEncoder().encode(
        { { QStringLiteral("devicePublicKey"), deviceIdentity.publicKeyBase64URL() },
            { QStringLiteral("platform"), QStringLiteral("macos") }, { QStringLiteral("state"), state } });
    auto reply = co_await postUnsigned(baseURL, QStringLiteral("/v1/auth/apple/web/start"), body, session);
    if (!reply)
        co_return std::unexpected(reply.error());
    // This reply keeps its keys as they are: no conversion.
    auto decoded = decodeJson<AppleWebAuthorizationResponse>(reply->data);
    if (!decoded)
        co_return std::unexpected(ControlPlaneFailure(decoded.error()));
    co_return decoded->authorizationURL;
}

QCoro::Task<std::expected<DeviceRegistration, ControlPlaneFailure>>
ControlPlaneBootstrap::completeWebAppleAuthorization(QUrl baseURL, QString ticket, QString state,
    const DeviceIdentity& deviceIdentity, QNetworkAccessManager& session)
{
    const QByteArray body = ControlPlaneEncoder().encode(
        { { QStringLiteral("ticket"), ticket }, { QStringLiteral("state"), state } });
    auto reply = co_await postKeySigned(
        baseURL, QStringLiteral("/v1/auth/apple/web/complete"), body, deviceIdentity, session);
    if (!reply)
        co_return std::unexpected(reply.error());
    if (!succeeded(reply->status))
        co_return std::unexpected(signInRefusal(*reply));
    co_return registration(reply->body);
}

QString ControlPlaneBootstrap::newState()
{
    const auto bytes = SecureRandom::bytes(32);
    if (!bytes)
        return {};
    return Base64Url::encoded(*bytes);
}

QCoro::Task<std::expected<DeviceRegistration, ControlPlaneFailure>> ControlPlaneBootstrap::registerDevice(
    QUrl baseURL, QString appleIdentityToken, const DeviceIdentity& deviceIdentity, QString platform,
    QNetworkAccessManager& session)
{
    const QByteArray body
        = ControlPlaneEncoder().encode({ { QStringLiteral("identityToken"), appleIdentityToken },
            { QStringLiteral("devicePublicKey"), deviceIdentity.publicKeyBase64URL() },
            { QStringLiteral("platform"), platform } });
    auto reply = co_await postUnsigned(baseURL, QStringLiteral("/v1/auth/apple"), body, session);
    if (!reply)
        co_return std::unexpected(reply.error());
    co_return registration(reply->data);
}

} // namespace lumora
