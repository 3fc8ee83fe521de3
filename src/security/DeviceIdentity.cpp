#include "security/DeviceIdentity.hpp"

#include "security/AccountSessionStore.hpp"
#include "security/Base64Url.hpp"
#include "security/KeyCreation.hpp"
#include "security/SecureKeyStore.hpp"
#include "security/SecurityLog.hpp"

#include <QLoggingCategory>

namespace lumora {
namespace {

std::expected<DeviceIdentity, SecureStoreError> fromStoredBytes(const QByteArray& bytes)
{
    SecretBytes raw(bytes);
    auto key = P256PrivateKey::fromRaw(raw.view());
    if (!key)
        return std::unexpected(SecureStoreError::invalidKey());
    return DeviceIdentity(std::move(*key));
}

} // namespace

QString DeviceIdentity::storeAccount()
{
    return QStringLiteral("device-signing-key-v1");
}

QCoro::Task<std::expected<DeviceIdentity, SecureStoreError>> DeviceIdentity::load(
    std::shared_ptr<SecureKeyStore> store)
{
    const auto stored = co_await store->data(storeAccount());
    if (!stored) {
        KeyCreation::note(stored.error());
        co_return std::unexpected(stored.error());
    }
    if (stored->bytes)
        co_return fromStoredBytes(*stored->bytes);

    // A saved account session names a device the control plane knows by the missing key. A new
    // key would sign requests the server refuses while the real one may only be out of reach
    // (a locked keyring, another desktop's keychain); signing out clears the way.
    for (const QString& account :
        { AccountSessionStore::currentAccount(), AccountSessionStore::formerAccount() }) {
        const auto session = co_await store->data(account);
        if (!session) {
            KeyCreation::note(session.error());
            co_return std::unexpected(session.error());
        }
        if (session->bytes) {
            qCCritical(identityLog) << "The device signing key is missing while an account session is saved";
            co_return std::unexpected(SecureStoreError::keyUnavailable());
        }
    }

    auto key = P256PrivateKey::generate();
    if (!key) {
        qCCritical(identityLog) << "Could not generate a device signing key";
        co_return std::unexpected(SecureStoreError::invalidKey());
    }
    const auto kept
        = co_await KeyCreation::store(store, storeAccount(), key->rawRepresentation().toByteArray());
    if (!kept)
        co_return std::unexpected(kept.error());
    // What the store holds now is the key, whoever wrote it.
    co_return fromStoredBytes(kept->bytes);
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
