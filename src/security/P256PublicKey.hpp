#pragma once

#include "security/CryptoError.hpp"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>
#include <expected>
#include <memory>

struct evp_pkey_st;

namespace lumora {

// A P-256 public key for checking ECDSA-SHA256 signatures, e.g. those of a registered device.
class P256PublicKey {
public:
    // The 65-byte X9.63 uncompressed point (0x04, X, Y); a point off the curve is refused.
    [[nodiscard]] static std::expected<P256PublicKey, CryptoError> fromX963(QByteArrayView point);
    // The 87-character base64url text of that point, as devices send it.
    [[nodiscard]] static std::expected<P256PublicKey, CryptoError> fromBase64Url(QStringView text);

    [[nodiscard]] QByteArray x963Representation() const { return m_point; }

    // Whether `signature`, 64 bytes r||s, is a valid signature of the SHA-256 digest of
    // `message`. Anything malformed is simply not valid.
    [[nodiscard]] bool isValidSignature(QByteArrayView signature, QByteArrayView message) const;

private:
    friend class P256PrivateKey;
    P256PublicKey(std::shared_ptr<evp_pkey_st> key, QByteArray point);

    class Verifiers;

    std::shared_ptr<evp_pkey_st> m_key;
    QByteArray m_point;
    // Contexts set up for checking with this key, shared by its copies.
    std::shared_ptr<Verifiers> m_verifiers;
};

} // namespace lumora
