#pragma once

#include "security/CryptoError.hpp"
#include "security/P256PrivateKey.hpp"
#include "security/SecureStoreError.hpp"

#include <QByteArrayView>
#include <QString>
#include <expected>
#include <memory>
#include <qcoro/qcorotask.h>

namespace lumora {

class SecureKeyStore;

// This computer's P-256 signing key, which the control plane knows as the device's key.
class DeviceIdentity {
public:
    // Keychain account of the 32-byte raw private scalar.
    static QString storeAccount();

    explicit DeviceIdentity(P256PrivateKey privateKey)
        : m_privateKey(std::move(privateKey))
    {
    }

    // Loads the key from the store, or creates and stores one on first use. Stored bytes
    // that are no valid key are `invalidKey` and stay as they are. No key is created while the
    // store holds a saved account session (`keyUnavailable`), nor after a keychain timeout in
    // this run; a created key is read back and the bytes read are the identity.
    [[nodiscard]] static QCoro::Task<std::expected<DeviceIdentity, SecureStoreError>> load(
        std::shared_ptr<SecureKeyStore> store);

    [[nodiscard]] const P256PrivateKey& privateKey() const { return m_privateKey; }
    // The 65-byte uncompressed point in base64url without padding: always 87 characters.
    [[nodiscard]] QString publicKeyBase64URL() const;
    // The raw r||s signature of `data` in base64url without padding: always 86 characters.
    [[nodiscard]] std::expected<QString, CryptoError> sign(QByteArrayView data) const;

private:
    P256PrivateKey m_privateKey;
};

} // namespace lumora
