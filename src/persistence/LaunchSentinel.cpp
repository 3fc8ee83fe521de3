#include "persistence/LaunchSentinel.hpp"

#include "persistence/PrivateFiles.hpp"

#include <QDir>
#include <QFileInfo>

namespace lumora {

QString LaunchSentinel::standardDirectory()
{
    return privatefiles::applicationDataFolder(QStringLiteral("Diagnostics"));
}

std::expected<LaunchSentinel, FileSystemError> LaunchSentinel::create(const QString& directory)
{
    // A second instance would take the first one's marker for a crash and remove it when it ends.
    auto lock = DataFolderLock::acquire(directory);
    if (!lock)
        return std::unexpected(lock.error());
    if (auto created = privatefiles::createDirectory(directory); !created)
        return std::unexpected(created.error());
    const QString marker = directory + QStringLiteral("/launch-active");
    const bool leftOver = privatefiles::exists(marker);
    if (auto written = privatefiles::writeFile(marker, {}); !written)
        return std::unexpected(written.error());
    return LaunchSentinel(leftOver, marker, std::move(*lock));
}

std::expected<void, FileSystemError> LaunchSentinel::recordCleanTermination() const
{
    if (!privatefiles::exists(m_markerPath))
        return {};
    return privatefiles::removeEntry(m_markerPath);
}

} // namespace lumora
