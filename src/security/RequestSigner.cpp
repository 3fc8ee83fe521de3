#include "security/RequestSigner.hpp"

#include "security/AuthorizationText.hpp"
#include "security/Base64Url.hpp"
#include "security/DeviceIdentity.hpp"
#include "security/Sha256.hpp"

namespace lumora {
namespace {

struct SignedParts {
    qint64 timestamp = 0;
    QString signature;
};

std::expected<SignedParts, CryptoError> signParts(const DeviceIdentity& identity, QStringView method,
    QStringView path, QByteArrayView body, const QDateTime& date, const QUuid& nonce)
{
    const auto timestamp = RequestSigner::timestamp(date);
    if (!timestamp)
        return std::unexpected(CryptoError::invalidInput);
    auto signature = identity.sign(RequestSigner::canonical(method, path, *timestamp, nonce, body));
    if (!signature)
        return std::unexpected(signature.error());
    return SignedParts { *timestamp, std::move(*signature) };
}

} // namespace

QByteArray RequestSigner::canonical(
    QStringView method, QStringView path, qint64 timestamp, const QUuid& nonce, QByteArrayView body)
{
    QByteArray text = method.toString().toUpper().toUtf8();
    text += '\n';
    text += path.toUtf8();
    text += '\n';
    text += QByteArray::number(timestamp);
    text += '\n';
    text += authorization::lowerUuid(nonce).toLatin1();
    text += '\n';
    text += Sha256::hash(body).toHex();
    return text;
}

std::optional<qint64> RequestSigner::timestamp(const QDateTime& date)
{
    if (!date.isValid())
        return std::nullopt;
    // Integer division truncates toward zero, also before 1970.
    return date.toMSecsSinceEpoch() / 1000;
}

std::expected<SignedRequestHeaders, CryptoError> RequestSigner::sign(const DeviceIdentity& identity,
    const QUuid& deviceID, QStringView method, QStringView path, QByteArrayView body, const QDateTime& date,
    const QUuid& nonce)
{
    auto parts = signParts(identity, method, path, body, date, nonce);
    if (!parts)
        return std::unexpected(parts.error());
    return SignedRequestHeaders { deviceID, parts->timestamp, nonce, std::move(parts->signature) };
}

std::expected<RecoveryRequestHeaders, CryptoError> RequestSigner::signRecovery(const DeviceIdentity& identity,
    QStringView method, QStringView path, QByteArrayView body, const QDateTime& date, const QUuid& nonce)
{
    auto parts = signParts(identity, method, path, body, date, nonce);
    if (!parts)
        return std::unexpected(parts.error());
    return RecoveryRequestHeaders { parts->timestamp, nonce, std::move(parts->signature) };
}

bool RequestSigner::isValidSignature(
    QStringView publicKeyText, QStringView signatureText, QByteArrayView canonicalText)
{
    const auto key = P256PublicKey::fromBase64Url(publicKeyText);
    const auto signature = Base64Url::decoded(signatureText);
    return key && signature && key->isValidSignature(*signature, canonicalText);
}

} // namespace lumora
