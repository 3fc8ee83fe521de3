#pragma once

#include "security/CryptoError.hpp"
#include "security/RecoveryRequestHeaders.hpp"
#include "security/SignedRequestHeaders.hpp"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QStringView>
#include <QUuid>
#include <expected>
#include <optional>

namespace lumora {

class DeviceIdentity;

// Signs control-plane requests, and checks such signatures on the receiving side.
struct RequestSigner {
    // The UTF-8 text that is signed: the upper-cased method, the path exactly as given, the
    // timestamp in decimal, the nonce in lower case and the lower-case hex SHA-256 of the
    // body, joined by single line feeds with none at the end.
    static QByteArray canonical(
        QStringView method, QStringView path, qint64 timestamp, const QUuid& nonce, QByteArrayView body);

    // Whole seconds since 1970, the fraction dropped toward zero; nullopt for an invalid date.
    static std::optional<qint64> timestamp(const QDateTime& date);

    [[nodiscard]] static std::expected<SignedRequestHeaders, CryptoError> sign(const DeviceIdentity& identity,
        const QUuid& deviceID, QStringView method, QStringView path, QByteArrayView body,
        const QDateTime& date, const QUuid& nonce);
    [[nodiscard]] static std::expected<RecoveryRequestHeaders, CryptoError> signRecovery(
        const DeviceIdentity& identity, QStringView method, QStringView path, QByteArrayView body,
        const QDateTime& date, const QUuid& nonce);

    // Whether `signatureText` (86 characters of base64url) is a signature of `canonicalText`
    // by the device whose public-key text (87 characters of base64url) is given. Malformed
    // texts are simply not valid.
    static bool isValidSignature(
        QStringView publicKeyText, QStringView signatureText, QByteArrayView canonicalText);
};

} // namespace lumora
