#include "persistence/EncryptedResultStore.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "persistence/PrivateFiles.hpp"

#include <QDir>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <algorithm>

namespace lumora {
namespace {

Q_LOGGING_CATEGORY(resultStoreLog, "com.lumora.native.result-store")

const QString fileExtension = QStringLiteral(".lmr");

QString describe(const ResultStoreFailure& failure)
{
    struct Describe {
        QString operator()(ResultStoreError) const { return QStringLiteral("invalid envelope"); }
        QString operator()(const FileSystemError& e) const { return e.reason; }
        QString operator()(const SecureStoreError& e) const
        {
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
    return privatefiles::applicationDataFolder(u"Results"_qs);
}

EncryptedResultStore::EncryptedResultStore(QString directory, std::shared_ptr<SecureKeyStore> keyStore)
    : m_directory(std::move(directory))
    , m_sealer(std::move(keyStore), keyAccount())
{
}

std::expected<std::shared_ptr<EncryptedResultStore>, FileSystemError> EncryptedResultStore::create(
    QString directory, std::shared_ptr<SecureKeyStore> keyStore)
{
    if (auto created = privatefiles::createDirectory(directory); !created)
        return std::unexpected(created.error());
    return std::shared_ptr<EncryptedResultStore>(
        new EncryptedResultStore(std::move(directory), std::move(keyStore)));
}

QString EncryptedResultStore::path(const QUuid& id) const
{
    return m_directory + u'/' + uuidText(id, UuidCase::lower) + fileExtension;
}

EncryptedResultStore::Result<DerivedSessionResult> EncryptedResultStore::openFile(
    const QString& path, const SymmetricKey& key)
{
    const auto json = FileSealer::readFile(path, key);
    if (!json)
        return std::unexpected(json.error());
    auto result = decodeJson<DerivedSessionResult>(*json);
    if (!result)
        return std::unexpected(result.error());
    return std::move(*result);
}

QCoro::Task<EncryptedResultStore::Result<void>> EncryptedResultStore::save(DerivedSessionResult result)
{
    const auto pass = co_await m_gate.enter();
    const QByteArray json = QJsonDocument(result.toJson()).toJson(QJsonDocument::Compact);
    const auto key = co_await m_sealer.key();
    if (!key)
        co_return std::unexpected(key.error());
    if (auto written = FileSealer::writeFile(path(result.id), *key, json); !written)
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
    const auto key = co_await m_sealer.key();
    if (!key)
        co_return std::unexpected(key.error());
    auto result = openFile(file, *key);
    if (!result)
        co_return std::unexpected(result.error());
    co_return Loaded { std::move(*result) };
}

QCoro::Task<EncryptedResultStore::Result<DerivedResultRepository::Listed>> EncryptedResultStore::list()
{
    const auto pass = co_await m_gate.enter();
    const auto names = privatefiles::entryNames(m_directory, true);
    if (!names)
        co_return std::unexpected(names.error());
    QStringList files;
    for (const QString& name : *names) {
        if (name.endsWith(fileExtension) && name.size() > fileExtension.size())
            files.append(m_directory + u'/' + name);
    }
    Listed listed;
    if (files.isEmpty())
        co_return listed;
    const auto key = co_await m_sealer.key();
    if (!key)
        co_return std::unexpected(key.error());
    for (const QString& file : std::as_const(files)) {
        auto result = openFile(file, *key);
        if (result)
            listed.results.append(std::move(*result));
        else
            qCWarning(resultStoreLog, "Skipping unreadable result file %s: %s", qUtf8Printable(file),
                qUtf8Printable(describe(result.error())));
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
    const auto names = privatefiles::entryNames(m_directory, true);
    if (!names)
        co_return std::unexpected(names.error());
    for (const QString& name : *names) {
        if (auto removed = privatefiles::removeEntry(m_directory + u'/' + name); !removed)
            co_return std::unexpected(removed.error());
    }
    co_return Result<void> {};
}

} // namespace lumora
