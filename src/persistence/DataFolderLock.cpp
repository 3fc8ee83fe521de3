#include "persistence/DataFolderLock.hpp"

#include "persistence/PrivateFiles.hpp"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
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
