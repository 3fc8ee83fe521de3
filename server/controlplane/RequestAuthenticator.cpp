#include "controlplane/RequestAuthenticator.hpp"

#include "domain/JsonWriting.hpp"
#include "security/RecoveryRequestHeaders.hpp"
#include "security/RequestSigner.hpp"
#include "security/SignedRequestHeaders.hpp"

namespace lumora {

namespace {

QString authorizationHeader(const HttpRequest& request)
{
    return QString::fromStdString(std::string(request.header("Authorization")));
}

} // namespace

QString toString(AuthenticationFailure failure)
{
    switch (failure) {
    case AuthenticationFailure::invalidSignature:
        return QStringLiteral("invalid_signature");
    case AuthenticationFailure::staleTimestamp:
        return QStringLiteral("stale_timestamp");
    case AuthenticationFailure::replayedNonce:
        return QStringLiteral("replayed_nonce");
    case AuthenticationFailure::unknownDevice:
        return QStringLiteral("unknown_device");
    case AuthenticationFailure::deviceRevoked:
        return QStringLiteral("device_revoked");
    }
    return QStringLiteral("invalid_signature");
}

RequestAuthenticator::RequestAuthenticator(ControlPlaneStore& store, std::function<qint64()> clock)
    : m_store(store)
    , m_clock(std::move(clock))
{
}

// The order of the checks keeps what a stranger learns small: the clock and the header's
// form first, then whether the device exists, then the signature; only a holder of the key
// learns that the device was revoked, and a forged request never consumes a nonce.
std::expected<DeviceRecord, AuthenticationFailure> RequestAuthenticator::authenticateDevice(
    const HttpRequest& request)
{
    const auto fields = SignedRequestHeaders::fromAuthorization(authorizationHeader(request));
    if (!fields)
        return std::unexpected(AuthenticationFailure::invalidSignature);
    if (auto fresh = checkFreshness(fields->timestamp); !fresh)
        return std::unexpected(fresh.error());
    const auto device = m_store.device(fields->deviceID);
    if (!device)
        return std::unexpected(AuthenticationFailure::unknownDevice);
    if (auto valid
        = checkSignature(request, device->publicKey, fields->timestamp, fields->nonce, fields->signature);
        !valid)
        return std::unexpected(valid.error());
    if (device->revoked)
        return std::unexpected(AuthenticationFailure::deviceRevoked);
    if (auto unique
        = checkNonce("device:" + uuidText(device->id, UuidCase::lower), fields->nonce, fields->timestamp);
        !unique)
        return std::unexpected(unique.error());
    return *device;
}

std::expected<void, AuthenticationFailure> RequestAuthenticator::authenticateRecovery(
    const HttpRequest& request, const QString& publicKey)
{
    const auto fields = RecoveryRequestHeaders::fromAuthorization(authorizationHeader(request));
    if (!fields)
        return std::unexpected(AuthenticationFailure::invalidSignature);
    if (auto fresh = checkFreshness(fields->timestamp); !fresh)
        return fresh;
    if (auto valid = checkSignature(request, publicKey, fields->timestamp, fields->nonce, fields->signature);
        !valid)
        return valid;
    return checkNonce("key:" + publicKey, fields->nonce, fields->timestamp);
}

std::expected<void, AuthenticationFailure> RequestAuthenticator::checkFreshness(qint64 timestamp) const
{
    const qint64 now = m_clock();
    // Written so that no subtraction can overflow for timestamps near the 64-bit limits.
    if (timestamp < now - allowedClockSkew || timestamp > now + allowedClockSkew)
        return std::unexpected(AuthenticationFailure::staleTimestamp);
    return {};
}

std::expected<void, AuthenticationFailure> RequestAuthenticator::checkNonce(
    const QString& signer, const QUuid& nonce, qint64 timestamp)
{
    if (!m_store.rememberNonce(signer, nonce, timestamp, m_clock() - allowedClockSkew))
        return std::unexpected(AuthenticationFailure::replayedNonce);
    return {};
}

std::expected<void, AuthenticationFailure> RequestAuthenticator::checkSignature(const HttpRequest& request,
    const QString& publicKey, qint64 timestamp, const QUuid& nonce, const QString& signature) const
{
    // The path as it came on the wire, without the query: what the client signed.
    const QByteArray canonical = RequestSigner::canonical(QString::fromStdString(request.method),
        QString::fromStdString(request.path), timestamp, nonce, QByteArrayView(request.body));
    if (!RequestSigner::isValidSignature(publicKey, signature, canonical))
        return std::unexpected(AuthenticationFailure::invalidSignature);
    return {};
}

} // namespace lumora
