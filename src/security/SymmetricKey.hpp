#pragma once

#include "security/CryptoError.hpp"
#include "security/SecretBytes.hpp"

#include <expected>

namespace lumora {

// A key for sealing files. Its bytes are taken exactly as given: 16, 24 or 32 bytes select
// AES-128, -192 or -256, and any other length makes every seal and open fail.
class SymmetricKey {
public:
    explicit SymmetricKey(SecretBytes bytes)
        : m_bytes(std::move(bytes))
    {
    }

    // A fresh random 256-bit key.
    [[nodiscard]] static std::expected<SymmetricKey, CryptoError> random256();

    [[nodiscard]] const SecretBytes& bytes() const { return m_bytes; }

private:
    SecretBytes m_bytes;
};

} // namespace lumora
