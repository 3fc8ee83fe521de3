#include "security/P256PublicKey.hpp"

#include "security/Base64Url.hpp"
#include "security/OpenSslHandles.hpp"
#include "security/Sha256.hpp"

#include <mutex>
#include <vector>

namespace lumora {

// Setting a context up for a check costs about a tenth of the check itself (the algorithm is
// looked up among the providers each time), and a server checks many signatures of one
// device's key. A context set up once checks any number of signatures, one at a time: each
// check takes one from here and gives it back.
class P256PublicKey::Verifiers {
public:
    explicit Verifiers(std::shared_ptr<EVP_PKEY> key)
        : m_key(std::move(key))
    {
    }

    openssl::KeyContext take()
    {
        {
            const std::lock_guard lock(m_lock);
            if (!m_idle.empty()) {
                openssl::KeyContext context = std::move(m_idle.back());
                m_idle.pop_back();
                return context;
            }
        }
        openssl::KeyContext context(EVP_PKEY_CTX_new_from_pkey(nullptr, m_key.get(), nullptr));
        if (!context || EVP_PKEY_verify_init(context.get()) != 1
            || EVP_PKEY_CTX_set_signature_md(context.get(), openssl::sha256()) != 1)
            return nullptr;
        return context;
    }

    void giveBack(openssl::KeyContext context)
    {
        const std::lock_guard lock(m_lock);
        // As many as threads checked at once; a few more are simply freed.
        if (m_idle.size() < 64)
            m_idle.push_back(std::move(context));
    }

private:
    std::shared_ptr<EVP_PKEY> m_key;
    std::mutex m_lock;
    std::vector<openssl::KeyContext> m_idle;
};

P256PublicKey::P256PublicKey(std::shared_ptr<EVP_PKEY> key, QByteArray point)
    : m_key(std::move(key))
    , m_point(std::move(point))
    , m_verifiers(std::make_shared<Verifiers>(m_key))
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

    const QByteArray digest = Sha256::hash(message);
    openssl::KeyContext context = m_verifiers->take();
    if (!context)
        return false;
    const bool valid = EVP_PKEY_verify(context.get(), der, size_t(derSize),
                           reinterpret_cast<const unsigned char*>(digest.constData()), size_t(digest.size()))
        == 1;
    m_verifiers->giveBack(std::move(context));
    return valid;
}

} // namespace lumora
