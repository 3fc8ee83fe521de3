#include "security/SecureRandom.hpp"

#include <openssl/rand.h>

namespace lumora {

std::expected<QByteArray, CryptoError> SecureRandom::bytes(qsizetype count)
{
    QByteArray result(count, Qt::Uninitialized);
    if (count > 0 && RAND_bytes(reinterpret_cast<unsigned char*>(result.data()), int(count)) != 1)
        return std::unexpected(CryptoError::randomUnavailable);
    return result;
}

std::expected<SecretBytes, CryptoError> SecureRandom::secretBytes(qsizetype count)
{
    SecretBytes result(count);
    if (count > 0 && RAND_priv_bytes(result.data(), int(count)) != 1)
        return std::unexpected(CryptoError::randomUnavailable);
    return result;
}

} // namespace lumora
