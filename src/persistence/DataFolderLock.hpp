#pragma once

#include "persistence/FileSystemError.hpp"

#include <QString>
#include <expected>
#include <memory>

namespace lumora {

// Keeps a store's folder in the application's data folder to one process: an exclusive `flock`
// on "lumora.lock" in the folder, held while any store of this process uses it. A second
// process, which would overwrite the first one's edits with its own stale copy or undo its
// removals, opens no store. Each store locks its own folder (never a parent that may be shared,
// such as the temporary folder a test or preview puts a store in). The lock ends with the
// process however it ends, so a crash never leaves a folder locked.
class DataFolderLock {
public:
    static QString fileName();
    // The reason of the error when another process holds the lock.
    static QString inUseReason();

    // This process's lock on the folder (created with mode 0700 when missing), taken at the
    // first request and shared by every later one until the last holder lets it go. Taking it
    // removes the temporary files of writes that a process ended before their rename.
    [[nodiscard]] static std::expected<std::shared_ptr<DataFolderLock>, FileSystemError> acquire(
        const QString& folder);

    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;
    ~DataFolderLock();

    [[nodiscard]] const QString& folder() const { return m_folder; }

private:
    DataFolderLock(QString folder, int descriptor)
        : m_folder(std::move(folder))
        , m_descriptor(descriptor)
    {
    }

    QString m_folder;
    int m_descriptor;
};

} // namespace lumora
