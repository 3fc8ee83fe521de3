#include "persistence/EncryptedResultStore.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "persistence/OffThread.hpp"
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
    , m_sealer(std::move(keyStore), keyAccount(), m_directory, [this] { return resultFiles(); })
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

QStringList EncryptedResultStore::resultFiles() const
{
    QStringList files;
    const auto names = privatefiles::entryNames(m_directory, true);
    for (const QString& name : names.value_or(QStringList {})) {
        if (isResultName(name))
            files.append(m_directory + u'/' + name);
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

QCoro::Task<EncryptedResultStore::Result<void>> EncryptedResultStore::save(DerivedSessionResult result)
{
    const auto pass = co_await m_gate.enter();
    QJsonObject document = result.toJson();
    // A result that would not read back (an invalid date, a number JSON cannot hold) is refused
    // here rather than replace a readable file with an unreadable one.
    if (auto readBack
        = decodeJson<DerivedSessionResult>(QJsonDocument(document).toJson(QJsonDocument::Compact));
        !readBack)
        co_return std::unexpected(readBack.error());
    const auto key = co_await m_sealer.keyForSealing();
    if (!key)
        co_return std::unexpected(key.error());
    const QString file = path(result.id);
    if (privatefiles::exists(file)) {
        const auto earlier = openFile(file, *key);
        if (earlier) {
            if (storeddocument::formatVersion(earlier->document) > formatVersion)
                co_return std::unexpected(ResultStoreError::newerFormat);
            storeddocument::keepMembers(
                document, storeddocument::unknownMembers(earlier->document, earlier->result.toJson()));
        } else if (std::holds_alternative<FileSystemError>(earlier.error())
            || earlier.error() == ResultStoreFailure(ResultStoreError::newerFormat)) {
            co_return std::unexpected(earlier.error());
        } else {
            const auto moved = privatefiles::moveAside(
                file, QStringLiteral("unreadable"), QDateTime::currentDateTimeUtc());
            if (!moved)
                co_return std::unexpected(moved.error());
            qCWarning(resultStoreLog, "Moved the unreadable result file %s aside to %s before saving: %s",
                qUtf8Printable(file), qUtf8Printable(*moved), qUtf8Printable(describe(earlier.error())));
        }
    }
    document.insert(storeddocument::formatVersionKey(), formatVersion);
    const QByteArray json = QJsonDocument(document).toJson(QJsonDocument::Compact);
    const auto sealing
        = startOffThread([file, key = *key, json] { return FileSealer::writeFile(file, key, json); });
    auto written = *co_await qCoro(sealing).waitForFinished();
    if (!written)
        co_return std::unexpected(written.error());
    co_return Result<void> {};
}

QCoro::Task<EncryptedResultStore::Result<DerivedResultRepository::Loaded>> EncryptedResultStore::load(
    QUuid id)
{
    const auto pass = co_await m_gate.enter();
    const QString file = path(id);
    if (!privatefiles::exists(file))
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
        m_sealer.confirm(*opening->key);
    co_return Loaded { std::move(opened->result) };
}

QCoro::Task<EncryptedResultStore::Result<DerivedResultRepository::Listed>> EncryptedResultStore::list()
{
    const auto pass = co_await m_gate.enter();
    const auto names = privatefiles::entryNames(m_directory, true);
    if (!names)
        co_return std::unexpected(names.error());
    QStringList files;
    for (const QString& name : *names) {
        if (isResultName(name))
            files.append(m_directory + u'/' + name);
    }
    Listed listed;
    if (files.isEmpty())
        co_return listed;
    const auto opening = co_await m_sealer.keyForOpening();
    if (!opening)
        co_return std::unexpected(opening.error());
    if (!opening->key)
        co_return std::unexpected(SecureStoreError::keyUnavailable());
    // Every review is opened (decrypted and decoded) away from the caller's thread: the work
    // grows with the history.
    const auto readingAll = startOffThread([files, key = *opening->key] {
        std::vector<Result<Opened>> all;
        all.reserve(std::size_t(files.size()));
        for (const QString& file : files)
            all.push_back(openFile(file, key));
        return all;
    });
    auto openedFiles = *co_await qCoro(readingAll).waitForFinished();
    qsizetype keyFailures = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString& file = files.at(i);
        auto& opened = openedFiles[std::size_t(i)];
        if (opened) {
            listed.results.append(std::move(opened->result));
            continue;
        }
        if (isKeyFailure(opened.error()))
            ++keyFailures;
        qCWarning(resultStoreLog, "Skipping unreadable result file %s: %s", qUtf8Printable(file),
            qUtf8Printable(describe(opened.error())));
    }
    if (!opening->verified) {
        // Without a fingerprint to vouch for the key, a key that opens nothing is taken for the
        // wrong one: an empty history would hide every result it cannot open.
        if (listed.results.isEmpty() && keyFailures > 0) {
            qCCritical(resultStoreLog, "The result key opens none of the %lld result files",
                static_cast<long long>(files.size()));
            co_return std::unexpected(SecureStoreError::keyUnavailable());
        }
        if (!listed.results.isEmpty())
            m_sealer.confirm(*opening->key);
    }
    std::stable_sort(listed.results.begin(), listed.results.end(),
        [](const DerivedSessionResult& a, const DerivedSessionResult& b) {
            return a.completedAt > b.completedAt;
        });
    co_return listed;
}

QCoro::Task<EncryptedResultStore::Result<void>> EncryptedResultStore::remove(QUuid id)
{
    const auto pass = co_await m_gate.enter();
    const QString file = path(id);
    if (privatefiles::exists(file)) {
        if (auto removed = privatefiles::removeEntry(file); !removed)
            co_return std::unexpected(removed.error());
    }
    co_return Result<void> {};
}

QCoro::Task<EncryptedResultStore::Result<void>> EncryptedResultStore::removeAll()
{
    const auto pass = co_await m_gate.enter();
    if (privatefiles::isSymbolicLink(QDir::cleanPath(m_directory)))
        co_return std::unexpected(ResultStoreError::unsafeFolder);
    const auto names = privatefiles::entryNames(m_directory, true);
    if (!names)
        co_return std::unexpected(names.error());
    for (const QString& name : *names) {
        if (!isOwnName(name))
            continue;
        if (auto removed = privatefiles::removeEntry(m_directory + u'/' + name); !removed)
            co_return std::unexpected(removed.error());
    }
    co_return Result<void> {};
}

} // namespace lumora
