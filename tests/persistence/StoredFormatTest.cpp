#include "../security/TestKeyStore.hpp"
#include "FailsWith.hpp"
#include "TestFiles.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::awaitTask;

namespace {

DerivedSessionResult review(int n, const QString& summary = u"summary"_qs)
{
    DerivedSessionResult r;
    r.id = QUuid(QStringLiteral("{%1-6666-4666-8666-666666666666}").arg(n, 8, 10, QLatin1Char('0')));
    r.completedAt = QDateTime::fromSecsSinceEpoch(1'700'000'000 + n, Qt::UTC);
    r.duration = 42;
    r.summary = summary;
    return r;
}

struct Fixture {
    QTemporaryDir temporary;
    std::shared_ptr<test::TestKeyStore> keys = std::make_shared<test::TestKeyStore>();
    std::shared_ptr<EncryptedResultStore> results
        = EncryptedResultStore::create(temporary.path() + u"/Lumora/Results"_qs, keys).value();
    std::shared_ptr<ConversationBackupStore> backup
        = ConversationBackupStore::create(temporary.path() + u"/Lumora/Backup"_qs, keys).value();

    SymmetricKey key(const QString& account) const
    {
        return SymmetricKey(SecretBytes(keys->stored(account).value()));
    }
    // Seals a document as another version of the application would have written it.
    void seal(const QString& file, const QString& account, const QJsonObject& document) const
    {
        ASSERT_TRUE(FileSealer::writeFile(file, key(account), QJsonDocument(document).toJson()).has_value());
    }
    QJsonObject opened(const QString& file, const QString& account) const
    {
        return QJsonDocument::fromJson(FileSealer::readFile(file, key(account)).value()).object();
    }
};

QJsonObject with(QJsonObject document, const QString& key, const QJsonValue& value)
{
    document.insert(key, value);
    return document;
}

} // namespace

TEST(StoredFormat, AReviewThatWouldNotReadBackIsNotSaved)
{
    Fixture f;
    ASSERT_TRUE(awaitTask(f.results->save(review(1))).has_value());
    const QByteArray sealed = test::contents(f.results->path(review(1).id));
    DerivedSessionResult notANumber = review(1);
    notANumber.duration = std::nan("");
    DerivedSessionResult noDate = review(1);
    noDate.completedAt = QDateTime();
    for (const DerivedSessionResult& unreadable : { notANumber, noDate }) {
        const auto saved = awaitTask(f.results->save(unreadable));
        ASSERT_FALSE(saved.has_value());
        EXPECT_TRUE(std::holds_alternative<JsonDecodeError>(saved.error()));
    }
    EXPECT_EQ(test::contents(f.results->path(review(1).id)), sealed);
    EXPECT_EQ(awaitTask(f.results->load(review(1).id)).value().result, review(1));
}

TEST(StoredFormat, ReviewFilesOfOtherVersionsKeepWhatTheyHoldAndAreNeverLost)
{
    const QString account = EncryptedResultStore::keyAccount();
    struct Case {
        const char* name;
        QJsonObject stored;
        // What the store does with it: read it (or fail with newerFormat), and whether a save
        // of the same id replaces it.
        bool readable;
        bool replaceable;
    };
    const QJsonObject known = review(1).toJson();
    QJsonObject withoutSummary = with(known, u"formatVersion"_qs, 2);
    withoutSummary.remove(u"summary"_qs);
    const Case cases[] = {
        { "an older file without a version, with members this version does not know",
            with(with(known, u"mood"_qs, u"calm"_qs), u"speakers"_qs, QJsonArray { 1, 2 }), true, true },
        { "a newer version this one can read",
            with(with(known, u"formatVersion"_qs, 2), u"mood"_qs, u"calm"_qs), true, false },
        { "a newer version this one cannot read", withoutSummary, false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        ASSERT_TRUE(awaitTask(f.results->save(review(2))).has_value());
        const QString file = f.results->path(review(1).id);
        f.seal(file, account, c.stored);
        const QByteArray sealed = test::contents(file);

        const auto loaded = awaitTask(f.results->load(review(1).id));
        if (c.readable)
            EXPECT_EQ(loaded.value().result, review(1));
        else
            EXPECT_THAT(loaded, FailsWith(ResultStoreFailure(ResultStoreError::newerFormat)));
        EXPECT_EQ(awaitTask(f.results->list()).value().results.size(), c.readable ? 2 : 1);

        const auto saved = awaitTask(f.results->save(review(1, u"edited"_qs)));
        if (!c.replaceable) {
            EXPECT_THAT(saved, FailsWith(ResultStoreFailure(ResultStoreError::newerFormat)));
            EXPECT_EQ(test::contents(file), sealed);
            continue;
        }
        ASSERT_TRUE(saved.has_value());
        const QJsonObject rewritten = f.opened(file, account);
        EXPECT_EQ(rewritten.value(u"summary"_qs), u"edited"_qs);
        EXPECT_EQ(rewritten.value(u"mood"_qs), u"calm"_qs);
        EXPECT_EQ(rewritten.value(u"speakers"_qs), (QJsonArray { 1, 2 }));
        EXPECT_EQ(rewritten.value(u"formatVersion"_qs), 1);
    }
    {
        // A file of this version whose content is damaged is moved aside by the save, not lost.
        Fixture f;
        ASSERT_TRUE(awaitTask(f.results->save(review(1))).has_value());
        const QString file = f.results->path(review(1).id);
        f.seal(file, account, QJsonObject { { u"summary"_qs, 3 } });
        const QByteArray damaged = test::contents(file);
        ASSERT_TRUE(awaitTask(f.results->save(review(1, u"edited"_qs))).has_value());
        const QStringList aside
            = QDir(QFileInfo(file).path()).entryList({ QFileInfo(file).fileName() + u".unreadable-*"_qs });
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(test::contents(QFileInfo(file).path() + u'/' + aside.first()), damaged);
        EXPECT_EQ(awaitTask(f.results->load(review(1).id)).value().result, review(1, u"edited"_qs));
    }
}

TEST(StoredFormat, TheBackupStateKeepsUnknownMembersAndNeverOverwritesANewerVersion)
{
    const QString account = ConversationBackupStore::keyAccount();
    ConversationBackupRecord first;
    first.localID = review(1).id;
    first.conversationID = review(11).id;
    ConversationBackupRecord second = first;
    second.localID = review(2).id;
    {
        Fixture f;
        ASSERT_TRUE(awaitTask(f.backup->upsert(first)).has_value());
        QJsonObject document = f.opened(f.backup->file(), account);
        EXPECT_EQ(document.value(u"formatVersion"_qs), 1);
        document.insert(u"syncCursor"_qs, u"abc"_qs);
        document.insert(u"records"_qs, QJsonArray { with(first.toJson(), u"priority"_qs, 3) });
        f.seal(f.backup->file(), account, document);

        const auto restarted
            = ConversationBackupStore::create(QFileInfo(f.backup->file()).path(), f.keys).value();
        ConversationBackupRecord changed = first;
        changed.attempts = 4;
        ASSERT_TRUE(awaitTask(restarted->upsert(QList { changed, second })).has_value());
        const QJsonObject rewritten = f.opened(f.backup->file(), account);
        EXPECT_EQ(rewritten.value(u"syncCursor"_qs), u"abc"_qs);
        const QJsonArray records = rewritten.value(u"records"_qs).toArray();
        ASSERT_EQ(records.size(), 2);
        EXPECT_EQ(records.at(0).toObject().value(u"priority"_qs), 3);
        EXPECT_EQ(records.at(0).toObject().value(u"attempts"_qs), 4);
        EXPECT_FALSE(records.at(1).toObject().contains(u"priority"_qs));
    }
    for (const bool readable : { true, false }) {
        SCOPED_TRACE(readable ? "newer, readable" : "newer, unreadable");
        Fixture f;
        ASSERT_TRUE(awaitTask(f.backup->upsert(first)).has_value());
        QJsonObject document = with(f.opened(f.backup->file(), account), u"formatVersion"_qs, 2);
        if (!readable)
            document.remove(u"records"_qs);
        f.seal(f.backup->file(), account, document);
        const QByteArray sealed = test::contents(f.backup->file());

        const auto restarted
            = ConversationBackupStore::create(QFileInfo(f.backup->file()).path(), f.keys).value();
        const auto records = awaitTask(restarted->records());
        if (readable)
            EXPECT_EQ(records.value().records, QList { first });
        else
            EXPECT_THAT(records, FailsWith(ResultStoreFailure(ResultStoreError::newerFormat)));
        EXPECT_THAT(awaitTask(restarted->upsert(second)),
            FailsWith(ResultStoreFailure(ResultStoreError::newerFormat)));
        EXPECT_EQ(test::contents(f.backup->file()), sealed);
        EXPECT_EQ(
            QDir(QFileInfo(f.backup->file()).path()).entryList({ u"*.unreadable-*"_qs }), QStringList {});
    }
}
