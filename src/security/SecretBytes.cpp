#include "security/SecretBytes.hpp"

#include <openssl/crypto.h>
#include <utility>

namespace lumora {

SecretBytes::SecretBytes(qsizetype size)
    : m_bytes(size_t(size), 0)
{
}

SecretBytes::SecretBytes(QByteArrayView bytes)
    : m_bytes(bytes.begin(), bytes.end())
{
}

SecretBytes::SecretBytes(const SecretBytes& other)
    : m_bytes(other.m_bytes)
{
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : m_bytes(std::exchange(other.m_bytes, {}))
{
}

SecretBytes& SecretBytes::operator=(const SecretBytes& other)
{
    if (this != &other) {
        wipe();
        m_bytes = other.m_bytes;
    }
    return *this;
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept
{
    if (this != &other) {
        wipe();
        m_bytes = std::exchange(other.m_bytes, {});
    }
    return *this;
}

SecretBytes::~SecretBytes()
{
    wipe();
}

void SecretBytes::wipe()
{
    if (!m_bytes.empty())
        OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
    m_bytes.clear();
}

bool SecretBytes::operator==(const SecretBytes& other) const
{
    return m_bytes.size() == other.m_bytes.size()
        && CRYPTO_memcmp(m_bytes.data(), other.m_bytes.data(), m_bytes.size()) == 0;
}

} // namespace lumora
