#pragma once

#include "persistence/ResultStoreError.hpp"
#include "security/SymmetricKey.hpp"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <expected>
#include <memory>
#include <qcoro/qcorotask.h>

namespace lumora {

class SecureKeyStore;

// Seals the files of one store with AES-GCM in the combined form (fresh random nonce for every
// write, no additional data) under the store's own key, which lives in the secure key store
// under one account and is made at first use.
class FileSealer {
public:
    template <typename T> using Result = std::expected<T, ResultStoreFailure>;

    FileSealer(std::shared_ptr<SecureKeyStore> keyStore, QString keyAccount);

    [[nodiscard]] const QString& keyAccount() const { return m_keyAccount; }

    // The stored bytes taken as they are; when the account holds none, a new random 256-bit
    // key that is used only once it has been stored.
    QCoro::Task<Result<SymmetricKey>> key();

    // Seals the plaintext and replaces the file atomically; the file has mode 0600 from its
    // creation on. Success means the file holds exactly this plaintext; a failure leaves the
    // earlier file as it was.
    static Result<void> writeFile(const QString& path, const SymmetricKey& key, QByteArrayView plaintext);
    // The plaintext of a sealed file; fails on a damaged box or another key.
    static Result<QByteArray> readFile(const QString& path, const SymmetricKey& key);

private:
    std::shared_ptr<SecureKeyStore> m_keyStore;
    QString m_keyAccount;
};

} // namespace lumora
