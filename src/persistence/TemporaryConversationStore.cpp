#include "persistence/TemporaryConversationStore.hpp"

#include "domain/JsonWriting.hpp"
#include "persistence/PrivateFiles.hpp"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {
namespace {

// Opens the root without following a symbolic link, checks that it is a folder of this user
// and sets its mode to 0700 through the same handle, so nothing can be swapped in between.
std::expected<void, TemporaryStoreFailure> secureRoot(const QString& root)
{
    const int descriptor
        = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno == ELOOP || errno == ENOTDIR)
            return std::unexpected(TemporaryStoreError::unsafeRoot);
        return std::unexpected(FileSystemError { root, QString::fromLocal8Bit(std::strerror(errno)) });
    }
    struct stat status { };
    std::expected<void, TemporaryStoreFailure> outcome;
    if (::fstat(descriptor, &status) != 0)
        outcome = std::unexpected(FileSystemError { root, QString::fromLocal8Bit(std::strerror(errno)) });
    else if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid())
        outcome = std::unexpected(TemporaryStoreError::unsafeRoot);
    else if (::fchmod(descriptor, 0700) != 0)
        outcome = std::unexpected(FileSystemError { root, QString::fromLocal8Bit(std::strerror(errno)) });
    ::close(descriptor);
    return outcome;
}

bool isPlainName(const QString& name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/')
        && !name.contains(QChar(0));
}

template <typename T> std::expected<T, TemporaryStoreFailure> fileFailure(const FileSystemError& error)
{
    return std::unexpected(TemporaryStoreFailure(error));
}

} // namespace

QString TemporaryConversationStore::standardRoot()
{
    return QDir::tempPath() + u"/Lumora-Conversation"_qs;
}

std::expected<TemporaryConversationStore, TemporaryStoreFailure> TemporaryConversationStore::create(
    QString root)
{
    const QString clean = QDir::cleanPath(QDir(root).absolutePath());
    if (!privatefiles::exists(clean)) {
        const QString parent = QFileInfo(clean).path();
        if (auto created = privatefiles::createDirectory(parent); !created)
            return fileFailure<TemporaryConversationStore>(created.error());
        // Made by us or, if another process won the race, checked below like any existing root.
        (void)privatefiles::createSingleDirectory(clean);
    }
    if (auto secured = secureRoot(clean); !secured)
        return std::unexpected(secured.error());
    return TemporaryConversationStore(clean);
}

bool TemporaryConversationStore::isSessionDirectory(const QString& directory) const
{
    const QString clean = QDir::cleanPath(QDir(directory).absolutePath());
    return clean != m_root && QFileInfo(clean).path() == m_root;
}

std::expected<QString, TemporaryStoreFailure> TemporaryConversationStore::createSessionDirectory(
    const QUuid& id) const
{
    const QString folder = m_root + u'/' + uuidText(id, UuidCase::lower);
    if (privatefiles::exists(folder)) {
        if (auto removed = privatefiles::removeEntry(folder); !removed)
            return fileFailure<QString>(removed.error());
    }
    if (auto created = privatefiles::createSingleDirectory(folder); !created)
        return fileFailure<QString>(created.error());
    return folder;
}

std::expected<QString, TemporaryStoreFailure> TemporaryConversationStore::write(
    QByteArrayView data, const QString& name, const QString& directory) const
{
    if (!isSessionDirectory(directory))
        return std::unexpected(TemporaryStoreError::outsideRoot);
    if (!isPlainName(name))
        return std::unexpected(TemporaryStoreError::invalidName);
    const QString file = QDir::cleanPath(QDir(directory).absolutePath()) + u'/' + name;
    if (auto written = privatefiles::writeFile(file, data); !written)
        return fileFailure<QString>(written.error());
    return file;
}

std::expected<void, TemporaryStoreFailure> TemporaryConversationStore::removeSessionDirectory(
    const QString& directory) const
{
    const QString clean = QDir::cleanPath(QDir(directory).absolutePath());
    if (!isSessionDirectory(clean) || !privatefiles::exists(clean))
        return {};
    if (auto removed = privatefiles::removeEntry(clean); !removed)
        return fileFailure<void>(removed.error());
    return {};
}

std::expected<QStringList, TemporaryStoreFailure> TemporaryConversationStore::sweepExpired(
    const QDateTime& now) const
{
    const auto names = privatefiles::entryNames(m_root, false);
    if (!names)
        return fileFailure<QStringList>(names.error());
    QStringList removed;
    for (const QString& name : *names) {
        const QString entry = m_root + u'/' + name;
        const auto modified = privatefiles::modificationTime(entry);
        if (!modified)
            return fileFailure<QStringList>(modified.error());
        if (modified->msecsTo(now) < maximumRetention * 1000)
            continue;
        if (auto gone = privatefiles::removeEntry(entry); !gone)
            return fileFailure<QStringList>(gone.error());
        removed.append(entry);
    }
    return removed;
}

} // namespace lumora
