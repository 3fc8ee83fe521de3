#include "security/P256PrivateKey.hpp"

#include "security/OpenSslHandles.hpp"

#include <openssl/core_names.h>
#include <openssl/obj_mac.h>

namespace lumora {
namespace {

struct Curve {
    openssl::Group group { EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1) };
    openssl::BigNumberContext context { BN_CTX_new() };

    [[nodiscard]] bool valid() const { return group && context; }
    [[nodiscard]] const BIGNUM* order() const { return EC_GROUP_get0_order(group.get()); }
};

std::expected<QByteArray, CryptoError> publicPointOf(const Curve& curve, const BIGNUM* scalar)
{
    openssl::Point point(EC_POINT_new(curve.group.get()));
    QByteArray encoded(openssl::uncompressedPointSize, Qt::Uninitialized);
    if (!point
        || EC_POINT_mul(curve.group.get(), point.get(), scalar, nullptr, nullptr, curve.context.get()) != 1
        || EC_POINT_point2oct(curve.group.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED,
               reinterpret_cast<unsigned char*>(encoded.data()), size_t(encoded.size()), curve.context.get())
            != size_t(openssl::uncompressedPointSize))
        return std::unexpected(CryptoError::primitiveFailed);
    return encoded;
}

// Whether Y <= p - Y for the point's Y coordinate.
std::expected<bool, CryptoError> hasCompactForm(const Curve& curve, const QByteArray& point)
{
    openssl::BigNumber p(BN_new());
    openssl::BigNumber y(
        BN_bin2bn(reinterpret_cast<const unsigned char*>(point.constData()) + 33, 32, nullptr));
    openssl::BigNumber negated(BN_new());
    if (!p || !y || !negated
        || EC_GROUP_get_curve(curve.group.get(), p.get(), nullptr, nullptr, curve.context.get()) != 1
        || BN_sub(negated.get(), p.get(), y.get()) != 1)
        return std::unexpected(CryptoError::primitiveFailed);
    return BN_cmp(y.get(), negated.get()) <= 0;
}

} // namespace

P256PrivateKey::P256PrivateKey(std::shared_ptr<EVP_PKEY> key, QByteArray publicPoint)
    : m_key(std::move(key))
    , m_publicPoint(std::move(publicPoint))
{
}

std::expected<P256PrivateKey, CryptoError> P256PrivateKey::generate()
{
    EVP_PKEY* generated = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (!generated)
        return std::unexpected(CryptoError::primitiveFailed);
    const P256PrivateKey candidate(openssl::sharedKey(generated), {});
    SecretBytes raw = candidate.rawRepresentation();
    if (raw.size() != rawSize)
        return std::unexpected(CryptoError::primitiveFailed);

    Curve curve;
    openssl::BigNumber scalar(BN_secure_new());
    if (!curve.valid() || !scalar || !BN_bin2bn(raw.data(), int(raw.size()), scalar.get()))
        return std::unexpected(CryptoError::primitiveFailed);
    auto point = publicPointOf(curve, scalar.get());
    if (!point)
        return std::unexpected(point.error());
    auto compact = hasCompactForm(curve, *point);
    if (!compact)
        return std::unexpected(compact.error());
    if (!*compact) {
        // n - d has the public point (X, p - Y), which has the compact form.
        if (BN_sub(scalar.get(), curve.order(), scalar.get()) != 1
            || BN_bn2binpad(scalar.get(), raw.data(), int(raw.size())) != rawSize)
            return std::unexpected(CryptoError::primitiveFailed);
    }
    return fromRaw(raw.view());
}

std::expected<P256PrivateKey, CryptoError> P256PrivateKey::fromRaw(QByteArrayView bytes)
{
    if (bytes.size() != rawSize)
        return std::unexpected(CryptoError::invalidKey);
    Curve curve;
    openssl::BigNumber scalar(BN_secure_new());
    if (!curve.valid() || !scalar
        || !BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()), scalar.get()))
        return std::unexpected(CryptoError::primitiveFailed);
    if (BN_is_zero(scalar.get()) || BN_cmp(scalar.get(), curve.order()) >= 0)
        return std::unexpected(CryptoError::invalidKey);
    auto point = publicPointOf(curve, scalar.get());
    if (!point)
        return std::unexpected(point.error());
    auto key = openssl::keyFromData(reinterpret_cast<const unsigned char*>(point->constData()), scalar.get());
    if (!key)
        return std::unexpected(CryptoError::primitiveFailed);
    return P256PrivateKey(std::move(key), std::move(*point));
}

SecretBytes P256PrivateKey::rawRepresentation() const
{
    BIGNUM* scalar = nullptr;
    if (EVP_PKEY_get_bn_param(m_key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &scalar) != 1)
        return {};
    openssl::BigNumber owner(scalar);
    SecretBytes raw(rawSize);
    if (BN_bn2binpad(scalar, raw.data(), int(raw.size())) != rawSize)
        return {};
    return raw;
}

P256PublicKey P256PrivateKey::publicKey() const
{
    return P256PublicKey(m_key, m_publicPoint);
}

std::expected<QByteArray, CryptoError> P256PrivateKey::signature(QByteArrayView message) const
{
    openssl::DigestContext context(EVP_MD_CTX_new());
    size_t derSize = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, m_key.get()) != 1
        || EVP_DigestSign(context.get(), nullptr, &derSize,
               reinterpret_cast<const unsigned char*>(message.data()), size_t(message.size()))
            != 1)
        return std::unexpected(CryptoError::primitiveFailed);
    QByteArray der(qsizetype(derSize), Qt::Uninitialized);
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(der.data()), &derSize,
            reinterpret_cast<const unsigned char*>(message.data()), size_t(message.size()))
        != 1)
        return std::unexpected(CryptoError::primitiveFailed);

    const auto* cursor = reinterpret_cast<const unsigned char*>(der.constData());
    openssl::Signature parsed(d2i_ECDSA_SIG(nullptr, &cursor, long(derSize)));
    QByteArray raw(signatureSize, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(raw.data());
    if (!parsed || BN_bn2binpad(ECDSA_SIG_get0_r(parsed.get()), out, 32) != 32
        || BN_bn2binpad(ECDSA_SIG_get0_s(parsed.get()), out + 32, 32) != 32)
        return std::unexpected(CryptoError::primitiveFailed);
    return raw;
}

} // namespace lumora
