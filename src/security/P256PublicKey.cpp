#include "security/P256PublicKey.hpp"

#include "security/Base64Url.hpp"
#include "security/OpenSslHandles.hpp"

namespace lumora {

P256PublicKey::P256PublicKey(std::shared_ptr<EVP_PKEY> key, QByteArray point)
    : m_key(std::move(key))
    , m_point(std::move(point))
{
}

std::expected<P256PublicKey, CryptoError> P256PublicKey::fromX963(QByteArrayView point)
{
    if (point.size() != openssl::uncompressedPointSize || point[0] != 0x04)
        return std::unexpected(CryptoError::invalidKey);
    auto key = openssl::keyFromData(reinterpret_cast<const unsigned char*>(point.data()), nullptr);
    if (!key)
        return std::unexpected(CryptoError::invalidKey);
    openssl::KeyContext check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    if (!check || EVP_PKEY_public_check(check.get()) != 1)
        return std::unexpected(CryptoError::invalidKey);
    return P256PublicKey(std::move(key), point.toByteArray());
}

std::expected<P256PublicKey, CryptoError> P256PublicKey::fromBase64Url(QStringView text)
{
    const auto point = Base64Url::decoded(text);
    if (!point)
        return std::unexpected(CryptoError::invalidKey);
    return fromX963(*point);
}

bool P256PublicKey::isValidSignature(QByteArrayView signature, QByteArrayView message) const
{
    if (signature.size() != 64)
        return false;
    const auto* raw = reinterpret_cast<const unsigned char*>(signature.data());
    openssl::BigNumber r(BN_bin2bn(raw, 32, nullptr));
    openssl::BigNumber s(BN_bin2bn(raw + 32, 32, nullptr));
    openssl::Signature parsed(ECDSA_SIG_new());
    if (!r || !s || !parsed || ECDSA_SIG_set0(parsed.get(), r.get(), s.get()) != 1)
        return false;
    // The signature object owns r and s now.
    (void)r.release();
    (void)s.release();

    unsigned char* der = nullptr;
    const int derSize = i2d_ECDSA_SIG(parsed.get(), &der);
    if (derSize <= 0)
        return false;
    openssl::Buffer derOwner(der);

    openssl::DigestContext context(EVP_MD_CTX_new());
    return context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, m_key.get()) == 1
        && EVP_DigestVerify(context.get(), der, size_t(derSize),
               reinterpret_cast<const unsigned char*>(message.data()), size_t(message.size()))
        == 1;
}

} // namespace lumora
