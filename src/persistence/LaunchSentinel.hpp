#pragma once

#include "persistence/DataFolderLock.hpp"
#include "persistence/FileSystemError.hpp"

#include <QString>
#include <expected>
#include <memory>

namespace lumora {

// Tells whether the previous run ended without a clean termination: a marker file exists
// for exactly as long as the application runs.
class LaunchSentinel {
public:
    // "Lumora/Diagnostics" in the user's application data folder.
    static QString standardDirectory();

    // Notes whether a marker is left over, then writes the marker (mode 0600) afresh. Takes the
    // lock on the folder (DataFolderLock) for the sentinel's life; fails with
    // `DataFolderLock::inUseReason()` while another process holds it.
    [[nodiscard]] static std::expected<LaunchSentinel, FileSystemError> create(const QString& directory);

    [[nodiscard]] bool previousLaunchEndedUncleanly() const { return m_previousLaunchEndedUncleanly; }
    [[nodiscard]] const QString& markerPath() const { return m_markerPath; }

    // Removes the marker; nothing to do when it is already gone.
    [[nodiscard]] std::expected<void, FileSystemError> recordCleanTermination() const;

private:
    LaunchSentinel(
        bool previousLaunchEndedUncleanly, QString markerPath, std::shared_ptr<DataFolderLock> lock)
        : m_previousLaunchEndedUncleanly(previousLaunchEndedUncleanly)
        , m_markerPath(std::move(markerPath))
        , m_lock(std::move(lock))
    {
    }

    bool m_previousLaunchEndedUncleanly;
    QString m_markerPath;
    std::shared_ptr<DataFolderLock> m_lock;
};

} // namespace lumora
