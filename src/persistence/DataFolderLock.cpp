#include "persistence/DataFolderLock.hpp"

#include "persistence/PrivateFiles.hpp"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace lumora {
namespace {

// flock belongs to an open file: a second open in this process would be refused like another
// process, so every store of the process shares one lock per folder.
QMutex registryLock;
QHash<QString, std::weak_ptr<DataFolderLock>> registry;

// Only a holder of the lock writes in the folder, and none did before this one took it: a file
// "<name>" + the temporary suffix + the six characters mkostemp chose is from a process that
// ended between writing it and the rename, and would otherwise stay for ever.
void removeWriteLeftovers(const QString& folder)
{
    static const QRegularExpression leftover(
        QRegularExpression::escape(privatefiles::temporarySuffix()) + QStringLiteral("[A-Za-z0-9]{6}$"));
    const auto names = privatefiles::entryNames(folder, true);
    if (!names)
        return;
    for (const QString& name : *names) {
        // unlink never removes a folder, nor follows a link.
        if (leftover.match(name).hasMatch())
            ::unlink(QFile::encodeName(folder + u'/' + name).constData());
    }
}

} // namespace

QString DataFolderLock::fileName()
{
    return QStringLiteral("lumora.lock");
}

QString DataFolderLock::inUseReason()
{
    return QStringLiteral("the data folder is in use by another process");
}

std::expected<std::shared_ptr<DataFolderLock>, FileSystemError> DataFolderLock::acquire(const QString& folder)
{
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    const QMutexLocker locked(&registryLock);
    if (auto held = registry.value(clean).lock())
        return held;
    if (auto created = privatefiles::createDirectory(clean); !created)
        return std::unexpected(created.error());
    const QString path = clean + u'/' + fileName();
    const int descriptor
        = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0)
        return std::unexpected(FileSystemError { path, QString::fromLocal8Bit(std::strerror(errno)) });
    int outcome;
    do
        outcome = ::flock(descriptor, LOCK_EX | LOCK_NB);
    while (outcome != 0 && errno == EINTR);
    if (outcome != 0) {
        const int error = errno;
        ::close(descriptor);
        if (error == EWOULDBLOCK)
            return std::unexpected(FileSystemError { clean, inUseReason() });
        return std::unexpected(FileSystemError { path, QString::fromLocal8Bit(std::strerror(error)) });
    }
    removeWriteLeftovers(clean);
    std::shared_ptr<DataFolderLock> lock(new DataFolderLock(clean, descriptor));
    registry.insert(clean, lock);
    return lock;
}

DataFolderLock::~DataFolderLock()
{
    // Closed under the registry's lock, so a request that comes now never meets the old open.
    const QMutexLocker locked(&registryLock);
    if (registry.value(m_folder).expired())
        registry.remove(m_folder);
    ::close(m_descriptor);
}

} // namespace lumora
