#include "persistence/PrivateFiles.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora::privatefiles {
namespace {

constexpr mode_t privateFolderMode = 0700;
constexpr mode_t privateFileMode = 0600;

std::optional<struct stat> linkStatus(const QString& path)
{
    struct stat status { };
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return status;
}

} // namespace

FileSystemError systemError(const QString& path, int error)
{
    return { path, QString::fromLocal8Bit(std::strerror(error)), error == ENOSPC || error == EDQUOT };
}

QString applicationDataFolder(const QString& name)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Lumora/")
        + name;
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

QString runtimeFolder()
{
    const QString named = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!named.isEmpty() && QDir::isAbsolutePath(named)) {
        const auto status = linkStatus(named);
        if (status && S_ISDIR(status->st_mode) && status->st_uid == ::geteuid()
            && (status->st_mode & 0077) == 0)
            return QDir::cleanPath(named);
    }
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
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
    // Written by hand rather than with QSaveFile: its buffered data could fail to reach a full
    // disk while the commit still reported success and renamed the empty temporary file over
    // the good one. Here every write, the flush to disk and the close are checked before the
    // rename, so a failure leaves the earlier file untouched. The temporary file is created
    // with mode 0600 and the rename keeps it, so a success means the replacement happened and
    // nothing is left to fail afterwards; callers that keep a copy in memory rely on that.
    const QFileInfo info(path);
    QByteArray temporary = QFile::encodeName(path + temporarySuffix() + QStringLiteral("XXXXXX"));
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0)
        return std::unexpected(systemError(path, errno));
    const auto fail = [&](int error) {
        ::unlink(temporary.constData());
        return std::unexpected(systemError(path, error));
    };
    // mkostemp makes the file 0600 whatever the umask; said again so no other mode can slip in.
    if (::fchmod(descriptor, privateFileMode) != 0) {
        const int error = errno;
        ::close(descriptor);
        return fail(error);
    }
    const char* next = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(descriptor, next, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int error = written < 0 ? errno : ENOSPC;
            ::close(descriptor);
            return fail(error);
        }
        next += written;
        left -= written;
    }
    if (::fsync(descriptor) != 0) {
        const int error = errno;
        ::close(descriptor);
        return fail(error);
    }
    if (::close(descriptor) != 0)
        return fail(errno);
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        return fail(errno);
    // The rename itself reaches the disk with the folder; a failure to flush the folder cannot
    // undo a replacement that has already happened, so it is not reported.
    const int folder = ::open(QFile::encodeName(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return {};
}

QString temporarySuffix()
{
    return QStringLiteral(".tmp-");
}

bool isSymbolicLink(const QString& path)
{
    const auto status = linkStatus(path);
    return status && S_ISLNK(status->st_mode);
}

std::expected<QString, FileSystemError> moveAside(
    const QString& path, const QString& reason, const QDateTime& now)
{
    const QString stamp = now.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString target = path + u'.' + reason + u'-' + stamp;
    for (int attempt = 2; exists(target); ++attempt)
        target = path + u'.' + reason + u'-' + stamp + u'-' + QString::number(attempt);
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(target).constData()) != 0)
        return std::unexpected(systemError(path, errno));
    return target;
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

std::expected<void, FileSystemError> makeOwnerOnly(const QString& path)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return std::unexpected(FileSystemError { path, QStringLiteral("could not make its folder") });
    const int descriptor = ::open(QFile::encodeName(path).constData(),
        O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, privateFileMode);
    if (descriptor < 0)
        return std::unexpected(systemError(path, errno));
    struct stat status { };
    std::expected<void, FileSystemError> outcome;
    if (::fstat(descriptor, &status) != 0)
        outcome = std::unexpected(systemError(path, errno));
    else if (!S_ISREG(status.st_mode))
        outcome = std::unexpected(FileSystemError { path, QStringLiteral("not a plain file") });
    else if (::fchmod(descriptor, privateFileMode) != 0)
        outcome = std::unexpected(systemError(path, errno));
    ::close(descriptor);
    return outcome;
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
