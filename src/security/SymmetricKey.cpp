#include "security/SymmetricKey.hpp"

#include "security/SecureRandom.hpp"

namespace lumora {

std::expected<SymmetricKey, CryptoError> SymmetricKey::random256()
{
    auto bytes = SecureRandom::secretBytes(32);
    if (!bytes)
        return std::unexpected(bytes.error());
    return SymmetricKey(std::move(*bytes));
}

} // namespace lumora
