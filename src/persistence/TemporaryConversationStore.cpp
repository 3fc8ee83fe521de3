#include "persistence/TemporaryConversationStore.hpp"

#include "domain/JsonWriting.hpp"
#include "persistence/PrivateFiles.hpp"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
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
        return std::unexpected(privatefiles::systemError(root, errno));
    }
    struct stat status { };
    std::expected<void, TemporaryStoreFailure> outcome;
    if (::fstat(descriptor, &status) != 0)
        outcome = std::unexpected(privatefiles::systemError(root, errno));
    else if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid())
        outcome = std::unexpected(TemporaryStoreError::unsafeRoot);
    else if (::fchmod(descriptor, 0700) != 0)
        outcome = std::unexpected(privatefiles::systemError(root, errno));
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

// An open of the folder itself (never through a link) with an exclusive flock on it, or the
// errno of the failure: EWOULDBLOCK when someone holds the lock.
std::expected<int, int> lockFolder(const QString& folder)
{
    const int descriptor
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return std::unexpected(errno);
    int outcome;
    do
        outcome = ::flock(descriptor, LOCK_EX | LOCK_NB);
    while (outcome != 0 && errno == EINTR);
    if (outcome != 0) {
        const int error = errno;
        ::close(descriptor);
        return std::unexpected(error);
    }
    return descriptor;
}

} // namespace

// The open, locked session folders of a store, by path.
class TemporaryConversationStore::SessionLocks {
public:
    SessionLocks() = default;
    SessionLocks(const SessionLocks&) = delete;
    SessionLocks& operator=(const SessionLocks&) = delete;
    ~SessionLocks()
    {
        for (const int descriptor : std::as_const(m_held))
            ::close(descriptor);
    }

    void hold(const QString& folder, int descriptor)
    {
        const QMutexLocker locked(&m_mutex);
        if (const auto earlier = m_held.take(folder))
            ::close(earlier);
        m_held.insert(folder, descriptor);
    }
    void release(const QString& folder)
    {
        const QMutexLocker locked(&m_mutex);
        if (const int descriptor = m_held.take(folder))
            ::close(descriptor);
    }

private:
    QMutex m_mutex;
    // Descriptor 0 is never one of these: standard input is open before any store.
    QHash<QString, int> m_held;
};

TemporaryConversationStore::TemporaryConversationStore(QString root)
    : m_root(std::move(root))
    , m_locks(std::make_shared<SessionLocks>())
{
}

QString TemporaryConversationStore::standardRoot()
{
    return privatefiles::runtimeFolder() + QStringLiteral("/Lumora-Conversation");
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
        m_locks->release(folder);
    }
    if (auto created = privatefiles::createSingleDirectory(folder); !created)
        return fileFailure<QString>(created.error());
    const auto locked = lockFolder(folder);
    if (!locked)
        return fileFailure<QString>(privatefiles::systemError(folder, locked.error()));
    m_locks->hold(folder, *locked);
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
    m_locks->release(clean);
    return {};
}

std::expected<QList<TemporaryConversationStore::LeftReservation>, TemporaryStoreFailure>
TemporaryConversationStore::leftReservations() const
{
    const auto names = privatefiles::entryNames(m_root, false);
    if (!names)
        return fileFailure<QList<LeftReservation>>(names.error());
    QList<LeftReservation> left;
    for (const QString& name : *names) {
        const QString entry = m_root + u'/' + name;
        if (!QFileInfo(entry).isDir() || QFileInfo(entry).isSymLink())
            continue;
        const auto locked = lockFolder(entry);
        if (!locked && locked.error() == EWOULDBLOCK)
            continue;
        if (!locked)
            return fileFailure<QList<LeftReservation>>(privatefiles::systemError(entry, locked.error()));
        const QString note = entry + u'/' + QLatin1String(reservationFileName);
        QUuid id;
        if (!privatefiles::isSymbolicLink(note)) {
            if (const auto text = privatefiles::readFile(note))
                id = QUuid::fromString(QLatin1String(text->trimmed()));
        }
        ::close(*locked);
        if (!id.isNull())
            left.append({ entry, id });
    }
    return left;
}

std::expected<bool, TemporaryStoreFailure> TemporaryConversationStore::expired(
    const QString& entry, const QDateTime& now)
{
    const auto modified = privatefiles::modificationTime(entry);
    if (!modified)
        return fileFailure<bool>(modified.error());
    const qint64 age = modified->msecsTo(now);
    return !(age >= 0 && age < maximumRetention * 1000);
}

std::expected<bool, TemporaryStoreFailure> TemporaryConversationStore::sweepFolder(
    const QString& folder, const QDateTime& now, QStringList& removed) const
{
    const auto names = privatefiles::entryNames(folder, true);
    if (!names)
        return fileFailure<bool>(names.error());
    const QString noteName = QLatin1String(reservationFileName);
    const QString note = folder + u'/' + noteName;
    bool keepsNote = false;
    if (names->contains(noteName) && !privatefiles::isSymbolicLink(note)) {
        const auto old = expired(note, now);
        if (!old)
            return std::unexpected(old.error());
        keepsNote = !*old;
    }
    const bool recording = std::ranges::any_of(*names, [&](const QString& name) { return name != noteName; });
    if (!keepsNote) {
        if (auto gone = privatefiles::removeEntry(folder); !gone)
            return fileFailure<bool>(gone.error());
        removed.append(folder);
        return recording;
    }
    for (const QString& name : *names) {
        if (name == noteName)
            continue;
        const QString entry = folder + u'/' + name;
        if (auto gone = privatefiles::removeEntry(entry); !gone)
            return fileFailure<bool>(gone.error());
        removed.append(entry);
    }
    return recording;
}

std::expected<TemporaryConversationStore::Swept, TemporaryStoreFailure>
TemporaryConversationStore::sweepExpired(const QDateTime& now) const
{
    const auto names = privatefiles::entryNames(m_root, false);
    if (!names)
        return fileFailure<Swept>(names.error());
    Swept swept;
    for (const QString& name : *names) {
        const QString entry = m_root + u'/' + name;
        // A session folder is held locked while its conversation runs, so one that can be locked
        // belongs to no running conversation: its recording goes whatever its age (the lock, kept
        // while sweeping, also keeps a recording from starting in it meanwhile). Anything else
        // cannot be proven dead and goes by its age.
        if (QFileInfo(entry).isDir() && !QFileInfo(entry).isSymLink()) {
            const auto locked = lockFolder(entry);
            if (!locked && locked.error() == EWOULDBLOCK)
                continue;
            if (!locked)
                return fileFailure<Swept>(privatefiles::systemError(entry, locked.error()));
            const auto recordingRemoved = sweepFolder(entry, now, swept.removed);
            ::close(*locked);
            if (!recordingRemoved)
                return std::unexpected(recordingRemoved.error());
            if (const QUuid session = QUuid::fromString(name); *recordingRemoved && !session.isNull())
                swept.recordingsRemoved.append(session);
            continue;
        }
        const auto old = expired(entry, now);
        if (!old)
            return std::unexpected(old.error());
        if (!*old)
            continue;
        if (auto gone = privatefiles::removeEntry(entry); !gone)
            return fileFailure<Swept>(gone.error());
        swept.removed.append(entry);
    }
    return swept;
}

} // namespace lumora
