#pragma once

#include "security/CryptoError.hpp"
#include "security/SecretBytes.hpp"

#include <QByteArray>
#include <expected>

namespace lumora {

// Bytes from the operating system's cryptographically secure random source.
struct SecureRandom {
    static std::expected<QByteArray, CryptoError> bytes(qsizetype count);
    static std::expected<SecretBytes, CryptoError> secretBytes(qsizetype count);
};

} // namespace lumora
