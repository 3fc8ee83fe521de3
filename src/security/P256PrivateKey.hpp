#pragma once

#include "security/CryptoError.hpp"
#include "security/P256PublicKey.hpp"
#include "security/SecretBytes.hpp"

#include <QByteArray>
#include <QByteArrayView>
#include <expected>
#include <memory>

struct evp_pkey_st;

namespace lumora {

// A P-256 signing key (ECDSA with SHA-256). Copies share one immutable OpenSSL key, which
// clears its private scalar when the last copy goes.
class P256PrivateKey {
public:
    static constexpr qsizetype rawSize = 32;
    static constexpr qsizetype signatureSize = 64;

    // A new random key whose public point has the compact form (its Y coordinate is the
    // smaller of Y and p - Y), so that the X coordinate alone identifies it.
    [[nodiscard]] static std::expected<P256PrivateKey, CryptoError> generate();
    // The 32-byte big-endian private scalar; it must lie in 1 ... n-1.
    [[nodiscard]] static std::expected<P256PrivateKey, CryptoError> fromRaw(QByteArrayView scalar);

    [[nodiscard]] SecretBytes rawRepresentation() const;
    // The 65-byte X9.63 uncompressed point.
    [[nodiscard]] QByteArray publicKeyX963() const { return m_publicPoint; }
    [[nodiscard]] P256PublicKey publicKey() const;

    // The signature of the SHA-256 digest of `message` as 64 bytes r||s. Randomised: two
    // signatures of one message differ, and both verify.
    [[nodiscard]] std::expected<QByteArray, CryptoError> signature(QByteArrayView message) const;

private:
    P256PrivateKey(std::shared_ptr<evp_pkey_st> key, QByteArray publicPoint);

    std::shared_ptr<evp_pkey_st> m_key;
    QByteArray m_publicPoint;
};

} // namespace lumora
