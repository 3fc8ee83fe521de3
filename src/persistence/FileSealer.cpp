#include "persistence/FileSealer.hpp"

#include "domain/OffThread.hpp"
#include "persistence/PersistenceLog.hpp"
#include "persistence/PrivateFiles.hpp"
#include "security/AesGcm.hpp"
#include "security/KeyCreation.hpp"
#include "security/SecureKeyStore.hpp"
#include "security/Sha256.hpp"

#include <QDir>
#include <QLoggingCategory>
#include <algorithm>
#include <qcoro/qcorofuture.h>

namespace lumora {

FileSealer::FileSealer(std::shared_ptr<SecureKeyStore> keyStore, QString keyAccount, QString directory,
    std::function<QStringList()> sealedFiles)
    : m_keyStore(std::move(keyStore))
    , m_keyAccount(std::move(keyAccount))
    , m_directory(std::move(directory))
    , m_sealedFiles(std::move(sealedFiles))
{
}

QString FileSealer::fingerprintPath() const
{
    return m_directory + u'/' + m_keyAccount + QStringLiteral(".fingerprint");
}

QByteArray FileSealer::fingerprint(const SymmetricKey& key) const
{
    // Named after its account so that the same bytes under two accounts give unrelated texts.
    const QByteArray label = "Lumora key fingerprint\n" + m_keyAccount.toUtf8() + '\n';
    return Sha256::hash(label + key.bytes().view().toByteArray()).toHex() + '\n';
}

FileSealer::Match FileSealer::matchFingerprint(const QString& path, const QByteArray& expected)
{
    if (!privatefiles::exists(path))
        return Match::none;
    const auto noted = privatefiles::readFile(path);
    // An unreadable note says nothing about the key: treated like none.
    if (!noted || noted->trimmed().size() != 64)
        return Match::none;
    return noted->trimmed() == expected.trimmed() ? Match::same : Match::different;
}

QCoro::Task<FileSealer::Result<void>> FileSealer::writeFingerprint(const SymmetricKey& key) const
{
    struct Written {
        std::expected<void, FileSystemError> done;
    };
    const auto writing = startOffThread([path = fingerprintPath(), note = fingerprint(key)] {
        return Written { privatefiles::writeFile(path, note) };
    });
    const auto written = *co_await qCoro(writing).waitForFinished();
    if (!written.done)
        co_return std::unexpected(written.done.error());
    co_return Result<void> {};
}

QCoro::Task<void> FileSealer::confirm(SymmetricKey key) const
{
    const auto noting = startOffThread([path = fingerprintPath(), note = fingerprint(key)] {
        if (matchFingerprint(path, note) == Match::none)
            (void)privatefiles::writeFile(path, note);
        return true;
    });
    (void)co_await qCoro(noting).waitForFinished();
}

QCoro::Task<FileSealer::Result<FileSealer::OpeningKey>> FileSealer::keyForOpening()
{
    const auto stored = co_await m_keyStore->data(m_keyAccount);
    if (!stored) {
        KeyCreation::note(stored.error());
        co_return std::unexpected(stored.error());
    }
    std::optional<SymmetricKey> key;
    if (stored->bytes)
        key.emplace(SecretBytes(*stored->bytes));
    // What the folder holds and what its note says, looked at away from the caller's thread.
    struct Looked {
        bool sealed = false;
        Match match = Match::none;
    };
    const auto looking = startOffThread([sealedFiles = m_sealedFiles, path = fingerprintPath(),
                                            expected = key ? fingerprint(*key) : QByteArray()] {
        return Looked { !sealedFiles().isEmpty(),
            expected.isEmpty() ? Match::none : matchFingerprint(path, expected) };
    });
    const Looked looked = *co_await qCoro(looking).waitForFinished();
    if (!key) {
        if (!looked.sealed)
            co_return OpeningKey {};
        qCCritical(sealerLog, "The key %s is missing while sealed files exist in %s",
            qUtf8Printable(m_keyAccount), qUtf8Printable(m_directory));
        co_return std::unexpected(SecureStoreError::keyUnavailable());
    }
    if (looked.match == Match::different && looked.sealed) {
        qCCritical(sealerLog, "The key %s is not the one that sealed the files in %s",
            qUtf8Printable(m_keyAccount), qUtf8Printable(m_directory));
        co_return std::unexpected(SecureStoreError::keyUnavailable());
    }
    co_return OpeningKey { std::move(*key), looked.match == Match::same };
}

QCoro::Task<FileSealer::Result<SymmetricKey>> FileSealer::keyForSealing()
{
    auto opening = co_await keyForOpening();
    if (!opening)
        co_return std::unexpected(opening.error());
    std::optional<SymmetricKey> key = std::move(opening->key);
    if (key && !opening->verified) {
        const auto probing = startOffThread([sealedFiles = m_sealedFiles, probe = *key] {
            const QStringList sealed = sealedFiles();
            return sealed.isEmpty() || std::ranges::any_of(sealed, [&probe](const QString& file) {
                return readFile(file, probe).has_value();
            });
        });
        if (!(*co_await qCoro(probing).waitForFinished())) {
            qCCritical(sealerLog, "The key %s opens none of the files in %s, which have no fingerprint",
                qUtf8Printable(m_keyAccount), qUtf8Printable(m_directory));
            co_return std::unexpected(SecureStoreError::keyUnavailable());
        }
    }
    if (!key) {
        auto fresh = SymmetricKey::random256();
        if (!fresh)
            co_return std::unexpected(fresh.error());
        const auto kept = co_await KeyCreation::store(m_keyStore, m_keyAccount, fresh->bytes().toByteArray());
        if (!kept)
            co_return std::unexpected(kept.error());
        key.emplace(SecretBytes(kept->bytes));
    } else if (opening->verified) {
        co_return std::move(*key);
    }
    // A new key, a key from before fingerprints were kept, or a key replaced while nothing was
    // sealed: the fingerprint follows it before anything is sealed with it.
    if (auto noted = co_await writeFingerprint(*key); !noted)
        co_return std::unexpected(noted.error());
    co_return std::move(*key);
}

FileSealer::Result<void> FileSealer::writeFile(
    const QString& path, const SymmetricKey& key, QByteArrayView plaintext)
{
    const auto sealed = AesGcm::seal(key, plaintext);
    if (!sealed)
        return std::unexpected(sealed.error());
    if (sealed->size() != plaintext.size() + AesGcm::overhead)
        return std::unexpected(ResultStoreError::invalidEnvelope);
    if (auto written = privatefiles::writeFile(path, *sealed); !written)
        return std::unexpected(written.error());
    return {};
}

FileSealer::Result<QByteArray> FileSealer::readFile(const QString& path, const SymmetricKey& key)
{
    const auto sealed = privatefiles::readFile(path);
    if (!sealed)
        return std::unexpected(sealed.error());
    auto plaintext = AesGcm::open(key, *sealed);
    if (!plaintext)
        return std::unexpected(plaintext.error());
    return std::move(*plaintext);
}

QCoro::Task<FileSealer::Result<void>> FileSealer::removeOwnFiles(
    QString directory, std::function<bool(const QString&)> owned)
{
    struct Removed {
        Result<void> done;
    };
    const auto removing = startOffThread([directory = std::move(directory), owned = std::move(owned)] {
        if (privatefiles::isSymbolicLink(QDir::cleanPath(directory)))
            return Removed { std::unexpected(ResultStoreError::unsafeFolder) };
        const auto names = privatefiles::entryNames(directory, true);
        if (!names)
            return Removed { std::unexpected(names.error()) };
        for (const QString& name : *names) {
            if (!owned(name))
                continue;
            if (auto removed = privatefiles::removeEntry(directory + u'/' + name); !removed)
                return Removed { std::unexpected(removed.error()) };
        }
        return Removed { Result<void> {} };
    });
    co_return std::move((*co_await qCoro(removing).waitForFinished()).done);
}

QCoro::Task<FileSealer::Result<void>> FileSealer::forgetKey() const
{
    if (auto removed = co_await m_keyStore->remove(m_keyAccount); !removed)
        co_return std::unexpected(removed.error());
    struct Removed {
        std::expected<void, FileSystemError> done;
    };
    const auto removing = startOffThread([path = fingerprintPath()] {
        return Removed { privatefiles::exists(path) ? privatefiles::removeEntry(path)
                                                    : std::expected<void, FileSystemError> {} };
    });
    const auto removed = *co_await qCoro(removing).waitForFinished();
    if (!removed.done)
        co_return std::unexpected(removed.done.error());
    co_return Result<void> {};
}

} // namespace lumora
