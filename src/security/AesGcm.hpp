#pragma once

#include "security/CryptoError.hpp"
#include "security/SymmetricKey.hpp"

#include <QByteArray>
#include <QByteArrayView>
#include <expected>

namespace lumora {

// AES-GCM in the combined form: the 12-byte nonce, the ciphertext (as long as the
// plaintext) and the 16-byte tag. Associated data, when given, is authenticated but not part of
// the box: the box opens only with the same bytes.
struct AesGcm {
    static constexpr qsizetype nonceSize = 12;
    static constexpr qsizetype tagSize = 16;
    static constexpr qsizetype overhead = nonceSize + tagSize;

    // Seals under a fresh random nonce.
    [[nodiscard]] static std::expected<QByteArray, CryptoError> seal(
        const SymmetricKey& key, QByteArrayView plaintext, QByteArrayView associatedData = {});
    // Fails with `authenticationFailed` when a single bit of the box, the key or the associated
    // data differs.
    [[nodiscard]] static std::expected<QByteArray, CryptoError> open(
        const SymmetricKey& key, QByteArrayView combined, QByteArrayView associatedData = {});
};

} // namespace lumora
