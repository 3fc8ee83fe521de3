#include "persistence/EncryptedResultStore.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "domain/OffThread.hpp"
#include "persistence/PersistenceLog.hpp"
#include "persistence/PrivateFiles.hpp"
#include "persistence/StoredDocument.hpp"

#include <QDir>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <algorithm>
#include <qcoro/qcorofuture.h>

namespace lumora {
namespace {

const QString fileExtension = QStringLiteral(".lmr");

bool isResultName(const QString& name)
{
    return name.endsWith(fileExtension) && name.size() > fileExtension.size();
}

// Results, and files named after one: copies moved aside and the temporary files of writes
// that never finished (this build's and those of the Qt save file older builds used).
bool isOwnName(const QString& name)
{
    return isResultName(name) || name.indexOf(fileExtension + u'.') > 0;
}

// Whether a failure to open a file says the key is the wrong one rather than the file damaged.
bool isKeyFailure(const ResultStoreFailure& failure)
{
    const auto* crypto = std::get_if<CryptoError>(&failure);
    return crypto && (*crypto == CryptoError::authenticationFailed || *crypto == CryptoError::invalidKey);
}

QString describe(const ResultStoreFailure& failure)
{
    struct Describe {
        QString operator()(ResultStoreError e) const
        {
            switch (e) {
            case ResultStoreError::invalidEnvelope:
                return QStringLiteral("invalid envelope");
            case ResultStoreError::newerFormat:
                return QStringLiteral("written by a newer version");
            case ResultStoreError::unsafeFolder:
                return QStringLiteral("the folder is a symbolic link");
            case ResultStoreError::otherAccount:
                return QStringLiteral("another account's");
            }
            return {};
        }
        QString operator()(const FileSystemError& e) const { return e.reason; }
        QString operator()(const SecureStoreError& e) const
        {
            if (e.kind == SecureStoreError::Case::keyUnavailable)
                return QStringLiteral("key unavailable");
            return QStringLiteral("key store error %1").arg(e.status);
        }
        QString operator()(CryptoError e) const
        {
            return e == CryptoError::authenticationFailed ? QStringLiteral("authentication failed")
                                                          : QStringLiteral("not a sealed box");
        }
        QString operator()(const JsonDecodeError& e) const { return e.message; }
    };
    return std::visit(Describe {}, failure);
}

} // namespace

QString EncryptedResultStore::keyAccount()
{
    return QStringLiteral("derived-result-encryption-key-v1");
}

QString EncryptedResultStore::standardDirectory()
{
    return privatefiles::applicationDataFolder(QStringLiteral("Results"));
}

EncryptedResultStore::EncryptedResultStore(
    QString directory, std::shared_ptr<SecureKeyStore> keyStore, std::shared_ptr<DataFolderLock> lock)
    : m_lock(std::move(lock))
    , m_directory(std::move(directory))
    , m_sealer(std::move(keyStore), keyAccount(), m_directory,
          [directory = m_directory] { return resultFiles(directory).value_or(QStringList {}); })
{
}

std::expected<std::shared_ptr<EncryptedResultStore>, FileSystemError> EncryptedResultStore::create(
    QString directory, std::shared_ptr<SecureKeyStore> keyStore)
{
    auto lock = DataFolderLock::acquire(directory);
    if (!lock)
        return std::unexpected(lock.error());
    if (auto created = privatefiles::createDirectory(directory); !created)
        return std::unexpected(created.error());
    return std::shared_ptr<EncryptedResultStore>(
        new EncryptedResultStore(std::move(directory), std::move(keyStore), std::move(*lock)));
}

QString EncryptedResultStore::path(const QUuid& id) const
{
    return m_directory + u'/' + uuidText(id, UuidCase::lower) + fileExtension;
}

std::expected<QStringList, FileSystemError> EncryptedResultStore::resultFiles(const QString& directory)
{
    const auto names = privatefiles::entryNames(directory, true);
    if (!names)
        return std::unexpected(names.error());
    QStringList files;
    for (const QString& name : *names) {
        if (isResultName(name))
            files.append(directory + u'/' + name);
    }
    return files;
}

EncryptedResultStore::Result<EncryptedResultStore::Opened> EncryptedResultStore::openFile(
    const QString& path, const SymmetricKey& key)
{
    const auto json = FileSealer::readFile(path, key);
    if (!json)
        return std::unexpected(json.error());
    auto document = parseJsonObject(*json);
    if (!document)
        return std::unexpected(document.error());
    auto result = DerivedSessionResult::fromJson(*document);
    if (!result) {
        // A newer form that this build cannot read is no damage; the file is left for the
        // version that wrote it.
        if (storeddocument::formatVersion(*document) > formatVersion)
            return std::unexpected(ResultStoreError::newerFormat);
        return std::unexpected(result.error());
    }
    return Opened { std::move(*result), std::move(*document) };
}

EncryptedResultStore::Result<void> EncryptedResultStore::sealResult(
    const QString& file, const SymmetricKey& key, const DerivedSessionResult& result)
{
    QJsonObject document = result.toJson();
    if (privatefiles::exists(file)) {
        const auto earlier = openFile(file, key);
        if (earlier) {
            if (storeddocument::formatVersion(earlier->document) > formatVersion)
                return std::unexpected(ResultStoreError::newerFormat);
            storeddocument::keepMembers(
                document, storeddocument::unknownMembers(earlier->document, earlier->result.toJson()));
        } else if (std::holds_alternative<FileSystemError>(earlier.error())
            || earlier.error() == ResultStoreFailure(ResultStoreError::newerFormat)) {
            return std::unexpected(earlier.error());
        } else {
            const auto moved = privatefiles::moveAside(
                file, QStringLiteral("unreadable"), QDateTime::currentDateTimeUtc());
            if (!moved)
                return std::unexpected(moved.error());
            qCWarning(resultStoreLog, "Moved the unreadable result file %s aside to %s before saving: %s",
                qUtf8Printable(file), qUtf8Printable(*moved), qUtf8Printable(describe(earlier.error())));
        }
    }
    document.insert(storeddocument::formatVersionKey(), formatVersion);
    // Encoded once; the bytes that are sealed are the ones read back here. A result that would
    // not read back (an invalid date, a number JSON cannot hold) is refused rather than replace a
    // readable file with an unreadable one.
    const QByteArray json = QJsonDocument(document).toJson(QJsonDocument::Compact);
    if (auto readBack = decodeJson<DerivedSessionResult>(json); !readBack)
        return std::unexpected(readBack.error());
    return FileSealer::writeFile(file, key, json);
}

QCoro::Task<EncryptedResultStore::Result<void>> EncryptedResultStore::save(DerivedSessionResult result)
{
    const auto pass = co_await m_gate.enter();
    const auto key = co_await m_sealer.keyForSealing();
    if (!key)
        co_return std::unexpected(key.error());
    // Everything that grows with the review (encoding, the earlier file, sealing, writing) is
    // done on a pool thread.
    struct Saved {
        Result<void> done;
    };
    const auto saving = startOffThread([file = path(result.id), key = *key, result = std::move(result)] {
        return Saved { sealResult(file, key, result) };
    });
    auto saved = *co_await qCoro(saving).waitForFinished();
    co_return std::move(saved.done);
}

QCoro::Task<EncryptedResultStore::Result<DerivedResultRepository::Loaded>> EncryptedResultStore::load(
    QUuid id)
{
    const auto pass = co_await m_gate.enter();
    const QString file = path(id);
    const auto looking = startOffThread([file] { return privatefiles::exists(file); });
    if (!*co_await qCoro(looking).waitForFinished())
        co_return Loaded {};
    const auto opening = co_await m_sealer.keyForOpening();
    if (!opening)
        co_return std::unexpected(opening.error());
    if (!opening->key)
        co_return std::unexpected(SecureStoreError::keyUnavailable());
    const auto reading = startOffThread([file, key = *opening->key] { return openFile(file, key); });
    auto opened = *co_await qCoro(reading).waitForFinished();
    if (!opened) {
        // Without a fingerprint to vouch for the key, a file it cannot open is taken for one
        // sealed under another key.
        if (!opening->verified && isKeyFailure(opened.error()))
            co_return std::unexpected(SecureStoreError::keyUnavailable());
        co_return std::unexpected(opened.error());
    }
    if (!opening->verified)
        co_await m_sealer.confirm(*opening->key);
    co_return Loaded { std::move(opened->result) };
}

QCoro::Task<EncryptedResultStore::Result<DerivedResultRepository::Listed>> EncryptedResultStore::list()
{
    const auto pass = co_await m_gate.enter();
    struct Names {
        std::expected<QStringList, FileSystemError> files;
    };
    const auto listing
        = startOffThread([directory = m_directory] { return Names { resultFiles(directory) }; });
    const auto names = *co_await qCoro(listing).waitForFinished();
    if (!names.files)
        co_return std::unexpected(names.files.error());
    const QStringList& files = *names.files;
    Listed listed;
    if (files.isEmpty())
        co_return listed;
    const auto opening = co_await m_sealer.keyForOpening();
    if (!opening)
        co_return std::unexpected(opening.error());
    if (!opening->key)
        co_return std::unexpected(SecureStoreError::keyUnavailable());
    // Every review is opened (decrypted and decoded) and the list sorted away from the caller's
    // thread: the work grows with the history.
    struct Opened {
        QList<DerivedSessionResult> results;
        qsizetype keyFailures = 0;
    };
    const auto readingAll = startOffThread([files, key = *opening->key] {
        Opened all;
        for (const QString& file : files) {
            auto opened = openFile(file, key);
            if (opened) {
                all.results.append(std::move(opened->result));
                continue;
            }
            if (isKeyFailure(opened.error()))
                ++all.keyFailures;
            qCWarning(resultStoreLog, "Skipping unreadable result file %s: %s", qUtf8Printable(file),
                qUtf8Printable(describe(opened.error())));
        }
        std::stable_sort(all.results.begin(), all.results.end(),
            [](const DerivedSessionResult& a, const DerivedSessionResult& b) {
                return a.completedAt > b.completedAt;
            });
        return all;
    });
    auto opened = *co_await qCoro(readingAll).waitForFinished();
    if (!opening->verified) {
        // Without a fingerprint to vouch for the key, a key that opens nothing is taken for the
        // wrong one: an empty history would hide every result it cannot open.
        if (opened.results.isEmpty() && opened.keyFailures > 0) {
            qCCritical(resultStoreLog, "The result key opens none of the %lld result files",
                static_cast<long long>(files.size()));
            co_return std::unexpected(SecureStoreError::keyUnavailable());
        }
        if (!opened.results.isEmpty())
            co_await m_sealer.confirm(*opening->key);
    }
    listed.results = std::move(opened.results);
    co_return listed;
}

QCoro::Task<EncryptedResultStore::Result<void>> EncryptedResultStore::remove(QUuid id)
{
    const auto pass = co_await m_gate.enter();
    struct Removed {
        Result<void> done;
    };
    const auto removing = startOffThread([file = path(id)] {
        if (privatefiles::exists(file)) {
            if (auto removed = privatefiles::removeEntry(file); !removed)
                return Removed { std::unexpected(removed.error()) };
        }
        return Removed { Result<void> {} };
    });
    auto removed = *co_await qCoro(removing).waitForFinished();
    co_return std::move(removed.done);
}

QCoro::Task<EncryptedResultStore::Result<void>> EncryptedResultStore::removeAll()
{
    const auto pass = co_await m_gate.enter();
    if (auto removed = co_await FileSealer::removeOwnFiles(m_directory, isOwnName); !removed)
        co_return removed;
    co_return co_await m_sealer.forgetKey();
}

} // namespace lumora
