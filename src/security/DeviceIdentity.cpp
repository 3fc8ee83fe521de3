#include "security/DeviceIdentity.hpp"

#include "security/Base64Url.hpp"
#include "security/SecureKeyStore.hpp"

#include <QLoggingCategory>

namespace lumora {
namespace {

Q_LOGGING_CATEGORY(identityLog, "com.lumora.native.device-identity")

} // namespace

QString DeviceIdentity::storeAccount()
{
    return QStringLiteral("device-signing-key-v1");
}

QCoro::Task<std::expected<DeviceIdentity, SecureStoreError>> DeviceIdentity::load(
    std::shared_ptr<SecureKeyStore> store)
{
    const auto stored = co_await store->data(storeAccount());
    if (!stored)
        co_return std::unexpected(stored.error());
    if (stored->bytes) {
        SecretBytes raw(*stored->bytes);
        auto key = P256PrivateKey::fromRaw(raw.view());
        if (!key)
            co_return std::unexpected(SecureStoreError::invalidKey());
        co_return DeviceIdentity(std::move(*key));
    }

    auto key = P256PrivateKey::generate();
    if (!key) {
        qCCritical(identityLog) << "Could not generate a device signing key";
        co_return std::unexpected(SecureStoreError::invalidKey());
    }
    const auto written = co_await store->set(key->rawRepresentation().toByteArray(), storeAccount());
    if (!written)
        co_return std::unexpected(written.error());
    co_return DeviceIdentity(std::move(*key));
}

QString DeviceIdentity::publicKeyBase64URL() const
{
    return Base64Url::encoded(m_privateKey.publicKeyX963());
}

std::expected<QString, CryptoError> DeviceIdentity::sign(QByteArrayView data) const
{
    const auto raw = m_privateKey.signature(data);
    if (!raw)
        return std::unexpected(raw.error());
    return Base64Url::encoded(*raw);
}

} // namespace lumora
