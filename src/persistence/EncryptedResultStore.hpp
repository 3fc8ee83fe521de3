#pragma once

#include "persistence/DataFolderLock.hpp"
#include "persistence/DerivedResultRepository.hpp"
#include "persistence/FileSealer.hpp"
#include "persistence/SerialGate.hpp"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>

namespace lumora {

class SecureKeyStore;

// Keeps each result as one file "<id>.lmr" in its folder, sealed with AES-GCM under a key
// that lives in the secure key store and is made by the first save into an empty folder (see
// FileSealer: a missing key with results on disk is `keyUnavailable`, never replaced).
// Operations run one at a time in the order they were called, so a save, a list and a delete
// never interleave. The store holds the lock on its folder (DataFolderLock) for its life.
//
// Every file read and write, and every encoding and decoding, runs on a pool thread; the
// calling thread only waits for the results.
//
// A file that cannot be read or opened (damaged, truncated) is left on disk, logged by name
// and skipped by `list`, so one bad file never hides the others; `load` of its id fails. When
// the key opens none of the files, `list` fails rather than show an empty history.
//
// The sealed JSON carries a format version. A save keeps the members of the earlier file that
// this version does not know, refuses to replace a file of a newer version
// (`ResultStoreError::newerFormat`), and moves an earlier file that cannot be opened aside
// ("<id>.lmr.unreadable-<date>") instead of deleting it.
class EncryptedResultStore final : public DerivedResultRepository {
public:
    // The version of the form of the JSON this build writes.
    static constexpr int formatVersion = 1;

    static QString keyAccount();
    // "Lumora/Results" in the user's application data folder.
    static QString standardDirectory();

    // Creates the folder (mode 0700) when it is missing and takes the lock on it; fails
    // with `DataFolderLock::inUseReason()` when another process holds it.
    [[nodiscard]] static std::expected<std::shared_ptr<EncryptedResultStore>, FileSystemError> create(
        QString directory, std::shared_ptr<SecureKeyStore> keyStore);

    [[nodiscard]] const QString& directory() const { return m_directory; }
    [[nodiscard]] QString path(const QUuid& id) const;

    [[nodiscard]] QCoro::Task<Result<void>> save(DerivedSessionResult result) override;
    [[nodiscard]] QCoro::Task<Result<Loaded>> load(QUuid id) override;
    [[nodiscard]] QCoro::Task<Result<Listed>> list() override;
    [[nodiscard]] QCoro::Task<Result<void>> remove(QUuid id) override;
    // Removes the store's own files (results, their copies moved aside and what interrupted
    // writes left), then its key and the key's fingerprint; anything else in the folder stays.
    // A folder that is a symbolic link is refused (`ResultStoreError::unsafeFolder`).
    [[nodiscard]] QCoro::Task<Result<void>> removeAll();

private:
    struct Opened {
        DerivedSessionResult result;
        QJsonObject document;
    };

    EncryptedResultStore(
        QString directory, std::shared_ptr<SecureKeyStore> keyStore, std::shared_ptr<DataFolderLock> lock);

    // File work, done on a pool thread.
    [[nodiscard]] static Result<Opened> openFile(const QString& path, const SymmetricKey& key);
    [[nodiscard]] static std::expected<QStringList, FileSystemError> resultFiles(const QString& directory);
    // Encodes the result once with what an earlier file of its id holds that this version does
    // not know, checks that the bytes read back, and seals them into `file`.
    [[nodiscard]] static Result<void> sealResult(
        const QString& file, const SymmetricKey& key, const DerivedSessionResult& result);

    std::shared_ptr<DataFolderLock> m_lock;
    QString m_directory;
    FileSealer m_sealer;
    SerialGate m_gate;
};

} // namespace lumora
