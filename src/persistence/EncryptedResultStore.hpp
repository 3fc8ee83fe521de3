#pragma once

#include "persistence/DerivedResultRepository.hpp"
#include "persistence/FileSealer.hpp"
#include "persistence/SerialGate.hpp"

#include <QString>
#include <memory>

namespace lumora {

class SecureKeyStore;

// Keeps each result as one file "<id>.lmr" in its folder, sealed with AES-GCM under a key
// that lives in the secure key store and is made at first use. Operations run one at a time
// in the order they were called, so a save, a list and a delete never interleave.
//
// A file that cannot be read or opened (damaged, truncated, sealed under a lost key) is left
// on disk, logged by name and skipped by `list`, so one bad file never hides the others;
// `load` of its id fails.
class EncryptedResultStore final : public DerivedResultRepository {
public:
    static QString keyAccount();
    // "Lumora/Results" in the user's application data folder.
    static QString standardDirectory();

    // Creates the folder (mode 0700) when it is missing.
    static std::expected<std::shared_ptr<EncryptedResultStore>, FileSystemError> create(
        QString directory, std::shared_ptr<SecureKeyStore> keyStore);

    [[nodiscard]] const QString& directory() const { return m_directory; }
    [[nodiscard]] QString path(const QUuid& id) const;

    QCoro::Task<Result<void>> save(DerivedSessionResult result) override;
    QCoro::Task<Result<Loaded>> load(QUuid id) override;
    QCoro::Task<Result<Listed>> list() override;
    QCoro::Task<Result<void>> remove(QUuid id) override;
    // Removes every entry of the folder, whatever its name.
    QCoro::Task<Result<void>> removeAll();

private:
    EncryptedResultStore(QString directory, std::shared_ptr<SecureKeyStore> keyStore);

    static Result<DerivedSessionResult> openFile(const QString& path, const SymmetricKey& key);

    QString m_directory;
    FileSealer m_sealer;
    SerialGate m_gate;
};

} // namespace lumora
