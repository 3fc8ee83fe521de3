#pragma once

#include "persistence/ResultStoreError.hpp"
#include "security/SymmetricKey.hpp"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumora {

class SecureKeyStore;

// Seals the files of one store with AES-GCM in the combined form (fresh random nonce for every
// write, no additional data) under the store's own key, which lives in the secure key store
// under one account.
//
// The key is never silently replaced. A keychain that is locked, or another desktop's keychain,
// answers "not found" for a key that exists, and a new key would leave every sealed file
// unreadable for good. So a key is made only for sealing and only while the folder holds no
// sealed file, and a fingerprint of the key (a hash, never the key) is kept beside the files:
// with sealed files present, a missing key or one with another fingerprint is
// `SecureStoreError::keyUnavailable` and nothing is written.
//
// The folder listing and the fingerprint's reading and writing happen on a pool thread, so
// `sealedFiles` is called there and must only look at the file system.
class FileSealer {
public:
    template <typename T> using Result = std::expected<T, ResultStoreFailure>;

    // `sealedFiles` lists what the store's folder holds sealed under the key.
    FileSealer(std::shared_ptr<SecureKeyStore> keyStore, QString keyAccount, QString directory,
        std::function<QStringList()> sealedFiles);

    [[nodiscard]] const QString& keyAccount() const { return m_keyAccount; }
    // The file beside the sealed ones holding the key's fingerprint.
    [[nodiscard]] QString fingerprintPath() const;

    struct OpeningKey {
        // Absent only when the store holds no key and nothing is sealed.
        std::optional<SymmetricKey> key;
        // The fingerprint beside the files matches the key, so a file that fails to open is
        // damaged rather than sealed under another key.
        bool verified = false;
    };
    // The key for opening files; never creates one.
    [[nodiscard]] QCoro::Task<Result<OpeningKey>> keyForOpening();
    // The key for sealing: the stored one, or a new one when the store holds none and nothing
    // is sealed yet, stored and read back. Its fingerprint is beside the files once this
    // succeeds. A stored key without a fingerprint (a folder from before they were kept) is
    // taken only once it opens one of the sealed files: another key that happens to be in the
    // keychain would otherwise seal new files that the old ones' key cannot open, and its
    // fingerprint would vouch for it from then on.
    [[nodiscard]] QCoro::Task<Result<SymmetricKey>> keyForSealing();
    // Notes the fingerprint of a key that has just opened a file, when none is noted yet.
    [[nodiscard]] QCoro::Task<void> confirm(SymmetricKey key) const;

    // Seals the plaintext and replaces the file atomically; the file has mode 0600 from its
    // creation on. Success means the file holds exactly this plaintext; a failure leaves the
    // earlier file as it was.
    [[nodiscard]] static Result<void> writeFile(
        const QString& path, const SymmetricKey& key, QByteArrayView plaintext);
    // The plaintext of a sealed file; fails on a damaged box or another key.
    [[nodiscard]] static Result<QByteArray> readFile(const QString& path, const SymmetricKey& key);
    // Removes, on a pool thread, the entries of the store's folder whose names `owned` accepts;
    // stops at the first that cannot be removed. A folder that is a symbolic link is refused
    // (`unsafeFolder`), since removing "its" files could reach elsewhere.
    [[nodiscard]] static QCoro::Task<Result<void>> removeOwnFiles(
        QString directory, std::function<bool(const QString&)> owned);
    // Removes the key from the key store, then its fingerprint (which vouches for it while it
    // stays). Only for when nothing sealed under the key is left.
    [[nodiscard]] QCoro::Task<Result<void>> forgetKey() const;

private:
    enum class Match { none, same, different };
    // How the fingerprint noted at `path` compares with `expected`; file work.
    [[nodiscard]] static Match matchFingerprint(const QString& path, const QByteArray& expected);
    [[nodiscard]] QCoro::Task<Result<void>> writeFingerprint(const SymmetricKey& key) const;
    [[nodiscard]] QByteArray fingerprint(const SymmetricKey& key) const;

    std::shared_ptr<SecureKeyStore> m_keyStore;
    QString m_keyAccount;
    QString m_directory;
    std::function<QStringList()> m_sealedFiles;
};

} // namespace lumora
