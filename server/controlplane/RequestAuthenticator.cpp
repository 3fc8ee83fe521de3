#include "controlplane/RequestAuthenticator.hpp"

#include "domain/JsonWriting.hpp"

#include <QByteArray>
#include <QList>
#include <charconv>
#include <limits>

namespace lumora {

namespace {

struct SignedFields {
    qint64 timestamp = 0;
    QUuid nonce;
    QString signature;
};

// Strict decimal: an optional minus sign and digits, nothing else.
std::optional<qint64> parseTimestamp(const QByteArray& text)
{
    if (text.isEmpty() || text.startsWith('+'))
        return std::nullopt;
    qint64 value = 0;
    const auto [end, error] = std::from_chars(text.constData(), text.constData() + text.size(), value);
    if (error != std::errc() || end != text.constData() + text.size())
        return std::nullopt;
    return value;
}

// The header's value after its scheme word, split at ":" into exactly `parts` pieces.
std::optional<QList<QByteArray>> headerParts(
    const HttpRequest& request, std::string_view scheme, qsizetype parts)
{
    const std::string_view header = request.header("Authorization");
    if (!header.starts_with(scheme))
        return std::nullopt;
    const QByteArray rest(
        header.data() + scheme.size(), static_cast<qsizetype>(header.size() - scheme.size()));
    QList<QByteArray> pieces = rest.split(':');
    if (pieces.size() != parts)
        return std::nullopt;
    return pieces;
}

std::optional<SignedFields> signedFields(
    const QByteArray& timestamp, const QByteArray& nonce, const QByteArray& signature)
{
    const auto time = parseTimestamp(timestamp);
    const QUuid id = QUuid::fromString(QLatin1StringView(nonce));
    if (!time || id.isNull() || nonce.size() != 36 || signature.isEmpty())
        return std::nullopt;
    return SignedFields { *time, id, QString::fromLatin1(signature) };
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
    const auto parts = headerParts(request, "Device ", 4);
    if (!parts)
        return std::unexpected(AuthenticationFailure::invalidSignature);
    const QUuid deviceID = QUuid::fromString(QLatin1StringView(parts->at(0)));
    const auto fields = signedFields(parts->at(1), parts->at(2), parts->at(3));
    if (deviceID.isNull() || parts->at(0).size() != 36 || !fields)
        return std::unexpected(AuthenticationFailure::invalidSignature);
    if (auto fresh = checkFreshness(fields->timestamp); !fresh)
        return std::unexpected(fresh.error());
    const auto device = m_store.device(deviceID);
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
    const auto parts = headerParts(request, "Recover ", 3);
    if (!parts)
        return std::unexpected(AuthenticationFailure::invalidSignature);
    const auto fields = signedFields(parts->at(0), parts->at(1), parts->at(2));
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

} // namespace lumora

namespace lumora {

std::expected<void, AuthenticationFailure> RequestAuthenticator::checkSignature(
    const HttpRequest&, const QString&, qint64, const QUuid&, const QString&) const
{
    // Until the signature library is linked in, nothing verifies.
    return std::unexpected(AuthenticationFailure::invalidSignature);
}

} // namespace lumora
