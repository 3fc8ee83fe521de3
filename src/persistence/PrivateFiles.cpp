#include "persistence/PrivateFiles.hpp"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora::privatefiles {
namespace {

constexpr mode_t privateFolderMode = 0700;
constexpr auto privateFileMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

FileSystemError systemError(const QString& path, int error)
{
    return { path, QString::fromLocal8Bit(std::strerror(error)) };
}

std::optional<struct stat> linkStatus(const QString& path)
{
    struct stat status { };
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return status;
}

} // namespace

QString applicationDataFolder(const QString& name)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Lumora/"_qs + name;
}

std::expected<void, FileSystemError> createSingleDirectory(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), privateFolderMode) != 0)
        return std::unexpected(systemError(path, errno));
    // The umask may have taken bits away; the folder gets exactly 0700.
    if (::chmod(native.constData(), privateFolderMode) != 0)
        return std::unexpected(systemError(path, errno));
    return {};
}

std::expected<void, FileSystemError> createDirectory(const QString& path)
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    if (const auto status = linkStatus(clean)) {
        if (S_ISDIR(status->st_mode) || (S_ISLNK(status->st_mode) && QFileInfo(clean).isDir()))
            return {};
        return std::unexpected(FileSystemError { clean, QStringLiteral("not a folder") });
    }
    const QString parent = QFileInfo(clean).path();
    if (parent != clean) {
        if (auto created = createDirectory(parent); !created)
            return created;
    }
    if (auto created = createSingleDirectory(clean); !created) {
        // Someone else may have made it in the meantime; a folder is all that was asked for.
        if (QFileInfo(clean).isDir())
            return {};
        return created;
    }
    return {};
}

std::expected<void, FileSystemError> writeFile(const QString& path, QByteArrayView data)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return std::unexpected(FileSystemError { path, file.errorString() });
    // The temporary file gets its final mode before any byte goes in, and the rename keeps it,
    // so nothing is left to do once the new file is in place: a success means the replacement
    // happened, a failure means the earlier file is untouched. Callers that keep a copy of the
    // content in memory rely on that.
    if (!file.setPermissions(privateFileMode) || file.write(data.data(), data.size()) != data.size()
        || !file.commit()) {
        const FileSystemError error { path, file.errorString() };
        file.cancelWriting();
        return std::unexpected(error);
    }
    return {};
}

std::expected<QByteArray, FileSystemError> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::unexpected(FileSystemError { path, file.errorString() });
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::unexpected(FileSystemError { path, file.errorString() });
    return bytes;
}

bool exists(const QString& path)
{
    return linkStatus(path).has_value();
}

std::expected<void, FileSystemError> removeEntry(const QString& path)
{
    const auto status = linkStatus(path);
    if (!status)
        return std::unexpected(systemError(path, errno));
    if (S_ISDIR(status->st_mode)) {
        // QDir deletes links inside the folder as links and never descends through them.
        if (!QDir(path).removeRecursively())
            return std::unexpected(FileSystemError { path, QStringLiteral("could not remove the folder") });
        return {};
    }
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return std::unexpected(systemError(path, errno));
    return {};
}

std::expected<QStringList, FileSystemError> entryNames(const QString& directory, bool includeHidden)
{
    const QDir folder(directory);
    if (!folder.exists())
        return std::unexpected(FileSystemError { directory, QStringLiteral("no such folder") });
    QDir::Filters filters = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System;
    if (includeHidden)
        filters |= QDir::Hidden;
    return folder.entryList(filters, QDir::Name);
}

std::expected<QDateTime, FileSystemError> modificationTime(const QString& path)
{
    const auto status = linkStatus(path);
    if (!status)
        return std::unexpected(systemError(path, errno));
    const qint64 milliseconds = qint64(status->st_mtim.tv_sec) * 1000 + status->st_mtim.tv_nsec / 1000000;
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
}

} // namespace lumora::privatefiles
