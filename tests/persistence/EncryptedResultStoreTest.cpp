#include "persistence/EncryptedResultStore.hpp"

#include "../security/TestKeyStore.hpp"
#include "FailsWith.hpp"
#include "TestFiles.hpp"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::awaitTask;
using lumora::test::contents;
using lumora::test::modeOf;
using lumora::test::overwrite;

namespace {

DerivedSessionResult result(const char* id, qint64 completedAtMs, const QString& summary)
{
    DerivedSessionResult r;
    r.id = QUuid(QString::fromLatin1(id));
    r.completedAt = QDateTime::fromMSecsSinceEpoch(completedAtMs, Qt::UTC);
    r.duration = 612.5;
    r.summary = summary;
    r.title = u"Sunday talk"_qs;
    return r;
}

DerivedSessionResult withoutFraction(DerivedSessionResult r)
{
    r.completedAt = QDateTime::fromSecsSinceEpoch(r.completedAt.toSecsSinceEpoch(), Qt::UTC);
    return r;
}

const DerivedSessionResult early
    = result("{11111111-1111-4111-8111-111111111111}", 1'700'000'000'250, u"early"_qs);
const DerivedSessionResult late
    = result("{22222222-2222-4222-8222-222222222222}", 1'700'000'900'000, u"late"_qs);

struct Fixture {
    QTemporaryDir temporary;
    QString folder = temporary.path() + u"/Lumora/Results"_qs;
    std::shared_ptr<test::TestKeyStore> keys = std::make_shared<test::TestKeyStore>();
    std::shared_ptr<EncryptedResultStore> store = EncryptedResultStore::create(folder, keys).value();

    void save(const DerivedSessionResult& r) { ASSERT_TRUE(awaitTask(store->save(r)).has_value()); }
    std::optional<DerivedSessionResult> load(const QUuid& id)
    {
        return awaitTask(store->load(id)).value().result;
    }
    QList<DerivedSessionResult> list() { return awaitTask(store->list()).value().results; }
    QByteArray bytes(const QUuid& id) { return contents(store->path(id)); }
};

} // namespace

TEST(EncryptedResultStore, SavedResultsAreSealedPrivateAndOpenAgainAfterARestart)
{
    Fixture f;
    EXPECT_EQ(modeOf(f.folder), 0700);
    EXPECT_EQ(modeOf(f.temporary.path() + u"/Lumora"_qs), 0700);
    f.save(early);
    const QString file = f.folder + u"/11111111-1111-4111-8111-111111111111.lmr"_qs;
    EXPECT_EQ(f.store->path(early.id), file);
    EXPECT_EQ(modeOf(file), 0600);
    QJsonObject document = early.toJson();
    document.insert(u"formatVersion"_qs, 1);
    const QByteArray json = QJsonDocument(document).toJson(QJsonDocument::Compact);
    EXPECT_EQ(f.bytes(early.id).size(), json.size() + 28);
    EXPECT_FALSE(f.bytes(early.id).contains("early"));
    EXPECT_EQ(f.keys->stored(u"derived-result-encryption-key-v1"_qs)->size(), 32);

    const auto restarted = EncryptedResultStore::create(f.folder, f.keys).value();
    EXPECT_EQ(awaitTask(restarted->load(early.id)).value().result, withoutFraction(early));

    // Saving again replaces the one file under a fresh nonce.
    const QByteArray first = f.bytes(early.id);
    DerivedSessionResult changed = early;
    changed.summary = u"changed"_qs;
    f.save(changed);
    EXPECT_NE(f.bytes(early.id), first);
    EXPECT_EQ(QDir(f.folder).entryList({ u"*.lmr"_qs }, QDir::Files).size(), 1);
    EXPECT_EQ(f.load(early.id), withoutFraction(changed));
    EXPECT_EQ(f.keys->writes, 1);
}

TEST(EncryptedResultStore, LoadOfAnUnknownIdNeedsNoKey)
{
    Fixture f;
    f.keys->failingReads.insert(EncryptedResultStore::keyAccount());
    EXPECT_EQ(f.load(early.id), std::nullopt);
    EXPECT_THAT(
        awaitTask(f.store->save(early)), FailsWith(ResultStoreFailure(SecureStoreError::keychain(7))));
    EXPECT_FALSE(QFile::exists(f.store->path(early.id)));
}

TEST(EncryptedResultStore, DamagedFilesFailLoadAndAreSkippedByList)
{
    Fixture f;
    f.save(late);
    const DerivedSessionResult tampered
        = result("{33333333-3333-4333-8333-333333333333}", 1'700'000'500'000, u"t"_qs);
    const DerivedSessionResult truncated
        = result("{44444444-4444-4444-8444-444444444444}", 1'700'000'600'000, u"u"_qs);
    f.save(tampered);
    f.save(truncated);
    // `early` was sealed under a key that is gone.
    ASSERT_TRUE(FileSealer::writeFile(
        f.store->path(early.id), SymmetricKey::random256().value(), QJsonDocument(early.toJson()).toJson())
                    .has_value());
    overwrite(
        f.store->path(tampered.id), f.bytes(tampered.id).chopped(1) + char(f.bytes(tampered.id).back() ^ 1));
    overwrite(f.store->path(truncated.id), f.bytes(truncated.id).first(20));
    overwrite(f.folder + u"/notes.txt"_qs, "not a result");
    overwrite(f.folder + u"/.lmr"_qs, "hidden, no name");

    using Failure = ResultStoreFailure;
    EXPECT_THAT(awaitTask(f.store->load(early.id)), FailsWith(Failure(CryptoError::authenticationFailed)));
    EXPECT_THAT(awaitTask(f.store->load(tampered.id)), FailsWith(Failure(CryptoError::authenticationFailed)));
    EXPECT_THAT(awaitTask(f.store->load(truncated.id)), FailsWith(Failure(CryptoError::invalidInput)));
    EXPECT_EQ(f.list(), QList { withoutFraction(late) });
    EXPECT_TRUE(QFile::exists(f.store->path(tampered.id)));
    EXPECT_TRUE(QFile::exists(f.store->path(truncated.id)));

    // Without a fingerprint to vouch for the key (files of an older build), a key that opens
    // none of the files is the wrong one, not a reason to show an empty history.
    ASSERT_TRUE(awaitTask(f.store->remove(late.id)).has_value());
    ASSERT_TRUE(QFile::remove(f.folder + u"/derived-result-encryption-key-v1.fingerprint"_qs));
    EXPECT_THAT(awaitTask(f.store->list()), FailsWith(Failure(SecureStoreError::keyUnavailable())));
}

TEST(EncryptedResultStore, OperationsRunOneAtATimeSoTheFirstKeyIsMadeOnce)
{
    Fixture f;
    auto first = f.store->save(early);
    auto second = f.store->save(late);
    auto listing = f.store->list();
    EXPECT_TRUE(awaitTask(std::move(first)).has_value());
    EXPECT_TRUE(awaitTask(std::move(second)).has_value());
    EXPECT_EQ(awaitTask(std::move(listing)).value().results,
        (QList { withoutFraction(late), withoutFraction(early) }));
    EXPECT_EQ(f.keys->writes, 1);
}

TEST(EncryptedResultStore, RemovingResultsNeverFollowsLinks)
{
    Fixture f;
    EXPECT_TRUE(awaitTask(f.store->removeAll()).has_value());
    EXPECT_TRUE(awaitTask(f.store->remove(early.id)).has_value());
    f.save(early);
    f.save(late);
    ASSERT_TRUE(awaitTask(f.store->remove(early.id)).has_value());
    EXPECT_EQ(f.list(), QList { withoutFraction(late) });

    // Only the store's own files go: results, what interrupted writes left (this build's and
    // the Qt save file's) and copies moved aside. A result name that is a link goes as a link.
    QTemporaryDir outside;
    overwrite(outside.path() + u"/keep"_qs);
    ASSERT_TRUE(QFile::link(outside.path(), f.folder + u"/link.lmr"_qs));
    ASSERT_TRUE(QFile::link(outside.path(), f.folder + u"/link"_qs));
    ASSERT_TRUE(QDir(f.folder).mkdir(u"nested"_qs));
    overwrite(f.folder + u"/nested/x"_qs);
    overwrite(f.folder + u"/.hidden"_qs);
    overwrite(f.folder + u"/notes.txt"_qs);
    for (const char* own : { "/a.lmr.tmp-Ab12Cd", "/a.lmr.Xy34Zw", "/a.lmr.unreadable-20261207T001500Z" })
        overwrite(f.folder + QString::fromLatin1(own));
    ASSERT_TRUE(f.keys->stored(f.store->keyAccount()).has_value());
    ASSERT_TRUE(awaitTask(f.store->removeAll()).has_value());
    EXPECT_EQ(QDir(f.folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
        (QStringList { u".hidden"_qs, u"link"_qs, u"lumora.lock"_qs, u"nested"_qs, u"notes.txt"_qs }))
        << "the key's fingerprint goes with the results";
    EXPECT_FALSE(f.keys->stored(f.store->keyAccount()).has_value()) << "and so does the key";
    EXPECT_TRUE(QFile::exists(outside.path() + u"/keep"_qs));

    // A store folder that is a link could point anywhere: nothing is removed through it.
    f.save(early);
    const QString real = f.temporary.path() + u"/real"_qs;
    ASSERT_TRUE(QDir().rename(f.folder, real));
    ASSERT_TRUE(QFile::link(real, f.folder));
    EXPECT_THAT(
        awaitTask(f.store->removeAll()), FailsWith(ResultStoreFailure(ResultStoreError::unsafeFolder)));
    EXPECT_TRUE(QFile::exists(real + u"/11111111-1111-4111-8111-111111111111.lmr"_qs));
}
