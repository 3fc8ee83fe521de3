#pragma once

#include "security/CryptoError.hpp"
#include "security/SecretBytes.hpp"

#include <QByteArray>
#include <expected>

namespace lumora {

// Bytes from the operating system's cryptographically secure random source.
struct SecureRandom {
    [[nodiscard]] static std::expected<QByteArray, CryptoError> bytes(qsizetype count);
    [[nodiscard]] static std::expected<SecretBytes, CryptoError> secretBytes(qsizetype count);
};

} // namespace lumora
