#include "../security/TestKeyStore.hpp"
#include "FailsWith.hpp"
#include "TestFiles.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "security/KeyCreation.hpp"
#include "security/KeychainKeyStore.hpp"

#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::awaitTask;

namespace {

DerivedSessionResult review(int n)
{
    DerivedSessionResult r;
    r.id = QUuid(QStringLiteral("{%1-2222-4222-8222-222222222222}").arg(n, 8, 10, QLatin1Char('0')));
    r.completedAt = QDateTime::fromSecsSinceEpoch(1'700'000'000 + n, Qt::UTC);
    r.duration = 60;
    r.summary = u"summary"_qs;
    return r;
}

ConversationBackupRecord backupRecord(int n)
{
    ConversationBackupRecord r;
    r.localID = review(n).id;
    r.conversationID
        = QUuid(QStringLiteral("{%1-3333-4333-8333-333333333333}").arg(n, 8, 10, QLatin1Char('0')));
    return r;
}

const QStringList accounts { EncryptedResultStore::keyAccount(), ConversationBackupStore::keyAccount() };

// Both sealed stores of one data folder over one key store.
struct Stores {
    explicit Stores(std::shared_ptr<SecureKeyStore> keyStore)
        : keys(std::move(keyStore))
    {
        reopen();
    }

    // Fresh instances, as after a restart: nothing is held in memory.
    void reopen()
    {
        results = EncryptedResultStore::create(data + u"/Results"_qs, keys).value();
        backup = ConversationBackupStore::create(data + u"/Backup"_qs, keys).value();
    }
    std::optional<QByteArray> key(const QString& account)
    {
        return awaitTask(keys->data(account)).value().bytes;
    }
    QByteArray files() const
    {
        return test::contents(results->path(review(1).id)) + test::contents(backup->file());
    }

    QTemporaryDir temporary;
    QString data = temporary.path() + u"/Lumora"_qs;
    std::shared_ptr<SecureKeyStore> keys;
    std::shared_ptr<EncryptedResultStore> results;
    std::shared_ptr<ConversationBackupStore> backup;
};

template <typename T>
std::optional<ResultStoreFailure> failureOf(QCoro::Task<std::expected<T, ResultStoreFailure>> task)
{
    auto result = awaitTask(std::move(task));
    if (result)
        return std::nullopt;
    return result.error();
}

// Every operation that needs a key, each answering its failure or nullopt.
const std::pair<const char*, std::function<std::optional<ResultStoreFailure>(Stores&)>> operations[] = {
    { "load a review", [](Stores& s) { return failureOf(s.results->load(review(1).id)); } },
    { "list the reviews", [](Stores& s) { return failureOf(s.results->list()); } },
    { "save a review", [](Stores& s) { return failureOf(s.results->save(review(2))); } },
    { "read the backup state", [](Stores& s) { return failureOf(s.backup->state()); } },
    { "edit the backup state", [](Stores& s) { return failureOf(s.backup->upsert(backupRecord(2))); } },
};

// Runs against the real Secret Service (true) and the test key store (false).
class SealedStoreKeys : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        if (GetParam() && !qEnvironmentVariableIsSet("LUMORA_TEST_SESSION"))
            GTEST_SKIP() << "needs scripts/with-test-session";
        service = u"com.lumora.native.test."_qs + QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (GetParam())
            keys = std::make_shared<KeychainKeyStore>(service);
        else
            keys = std::make_shared<test::TestKeyStore>();
    }
    // The key taken away from outside the application, as another desktop's keychain or a
    // locked keyring would show it.
    void removeFromOutside(Stores& stores, const QString& account)
    {
        if (!GetParam()) {
            ASSERT_TRUE(awaitTask(stores.keys->remove(account)).has_value());
            return;
        }
        QProcess tool;
        tool.start(u"secret-tool"_qs, { u"clear"_qs, u"user"_qs, account, u"server"_qs, service });
        ASSERT_TRUE(tool.waitForFinished(60000));
        ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    }

    QString service;
    std::shared_ptr<SecureKeyStore> keys;
};

} // namespace

TEST_P(SealedStoreKeys, AKeyThatIsGoneOrReplacedIsUnavailableWritesNothingAndOpensAllOnceBack)
{
    struct Situation {
        const char* name;
        bool anotherKey;
        // A data folder from before fingerprints were kept beside the files.
        bool noFingerprint;
    };
    for (const Situation situation :
        { Situation { "key removed", false, false }, Situation { "another key", true, false },
            Situation { "another key, no fingerprint", true, true } }) {
        SCOPED_TRACE(situation.name);
        Stores stores(keys);
        ASSERT_TRUE(awaitTask(stores.results->save(review(1))).has_value());
        ASSERT_TRUE(awaitTask(stores.backup->upsert(backupRecord(1))).has_value());
        QHash<QString, QByteArray> saved;
        for (const QString& account : accounts) {
            saved.insert(account, stores.key(account).value());
            removeFromOutside(stores, account);
            if (situation.anotherKey) {
                ASSERT_TRUE(awaitTask(keys->set(QByteArray(32, 'o'), account)).has_value());
            }
        }
        if (situation.noFingerprint) {
            for (const QString& folder : { u"/Results/"_qs, u"/Backup/"_qs })
                for (const QString& account : accounts)
                    QFile::remove(stores.data + folder + account + u".fingerprint"_qs);
        }
        const QByteArray files = stores.files();
        stores.reopen();
        for (const auto& [name, operation] : operations) {
            SCOPED_TRACE(name);
            EXPECT_EQ(operation(stores), ResultStoreFailure(SecureStoreError::keyUnavailable()));
        }
        EXPECT_EQ(stores.files(), files);
        for (const QString& account : accounts) {
            EXPECT_EQ(stores.key(account),
                situation.anotherKey ? std::optional(QByteArray(32, 'o')) : std::nullopt);
            ASSERT_TRUE(awaitTask(keys->set(saved.value(account), account)).has_value());
        }
        for (const auto& [name, operation] : operations) {
            SCOPED_TRACE(name);
            EXPECT_EQ(operation(stores), std::nullopt);
        }
        EXPECT_EQ(awaitTask(stores.results->list()).value().results.size(), 2);
        EXPECT_EQ(awaitTask(stores.backup->records()).value().records.size(), 2);
        for (const QString& account : accounts)
            ASSERT_TRUE(awaitTask(keys->remove(account)).has_value());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stores, SealedStoreKeys, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& store) {
        return store.param ? "SecretService" : "TestKeyStore";
    });

TEST(SealedStoreKeys, NoKeyIsMadeAfterATimeoutAndAMadeKeyIsTheOneReadBack)
{
    {
        auto keys = std::make_shared<test::TestKeyStore>();
        Stores stores(keys);
        keys->timingOutReads = QSet<QString>(accounts.begin(), accounts.end());
        const ResultStoreFailure timedOut(SecureStoreError::keychain(SecureStoreError::timedOutStatus));
        EXPECT_THAT(awaitTask(stores.results->save(review(1))), FailsWith(timedOut));
        // The keychain answers again with "not found": for the rest of the run that is no
        // proof that no key exists.
        keys->timingOutReads.clear();
        EXPECT_THAT(awaitTask(stores.results->save(review(1))), FailsWith(timedOut));
        EXPECT_THAT(awaitTask(stores.backup->upsert(backupRecord(1))), FailsWith(timedOut));
        EXPECT_EQ(keys->writes, 0);
        KeyCreation::forgetTimeoutsForTesting();
    }
    {
        // Another process stores its own key right after ours: what gets sealed must open with
        // the key the keychain keeps.
        auto keys = std::make_shared<test::TestKeyStore>();
        for (const QString& account : accounts)
            keys->racingWrites.insert(account, QByteArray(32, 'r'));
        Stores stores(keys);
        ASSERT_TRUE(awaitTask(stores.results->save(review(1))).has_value());
        ASSERT_TRUE(awaitTask(stores.backup->upsert(backupRecord(1))).has_value());
        const SymmetricKey kept { SecretBytes(QByteArray(32, 'r')) };
        EXPECT_TRUE(FileSealer::readFile(stores.results->path(review(1).id), kept).has_value());
        EXPECT_TRUE(FileSealer::readFile(stores.backup->file(), kept).has_value());
    }
}
