#include "persistence/ConversationBackupStore.hpp"

#include "../security/TestKeyStore.hpp"
#include "FailsWith.hpp"
#include "TestFiles.hpp"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace lumora;
using lumora::test::awaitTask;
using lumora::test::modeOf;
using State = ConversationBackupStore::State;

namespace {

QUuid id(int n)
{
    return QUuid(QStringLiteral("{%1-1111-4111-8111-111111111111}").arg(n, 8, 10, QLatin1Char('0')));
}

ConversationBackupRecord record(int n, ConversationBackupState state = ConversationBackupState::pending)
{
    ConversationBackupRecord r;
    r.localID = id(n);
    r.conversationID = id(100 + n);
    r.state = state;
    return r;
}

ConversationRecordSummary summary(int n, const QString& title = {})
{
    ConversationRecordSummary s;
    s.id = id(n);
    s.mode = u"conversation"_qs;
    s.status = u"complete"_qs;
    s.endedAt = 1'700'000'000 + n;
    if (!title.isEmpty())
        s.title = title;
    return s;
}

QList<QUuid> ids(const QList<ConversationRecordSummary>& summaries)
{
    QList<QUuid> result;
    for (const auto& s : summaries)
        result.append(s.id);
    return result;
}

QDateTime at(qint64 milliseconds)
{
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
}

struct Fixture {
    QTemporaryDir temporary;
    QString folder = temporary.path() + u"/Lumora/Backup"_qs;
    std::shared_ptr<test::TestKeyStore> keys = std::make_shared<test::TestKeyStore>();
    std::shared_ptr<ConversationBackupStore> store = restarted();

    std::shared_ptr<ConversationBackupStore> restarted() const
    {
        return ConversationBackupStore::create(folder, keys).value();
    }
    State state() { return awaitTask(store->state()).value(); }
    void ok(QCoro::Task<ConversationBackupStore::Result<void>> edit)
    {
        const auto done = awaitTask(std::move(edit));
        ASSERT_TRUE(done.has_value());
    }
    QByteArray bytes() const { return test::contents(store->file()); }
    void overwrite(const QByteArray& data) const { test::overwrite(store->file(), data); }
    SymmetricKey key() const { return SymmetricKey(SecretBytes(keys->stored(store->keyAccount()).value())); }
    QJsonObject plaintext() const
    {
        return QJsonDocument::fromJson(FileSealer::readFile(store->file(), key()).value()).object();
    }
};

} // namespace

TEST(ConversationBackupStore, SurvivesARestartSealedAndPrivate)
{
    Fixture f;
    EXPECT_EQ(modeOf(f.folder), 0700);
    EXPECT_EQ(modeOf(f.temporary.path() + u"/Lumora"_qs), 0700);
    EXPECT_TRUE(f.state().records.isEmpty());
    EXPECT_FALSE(QFile::exists(f.store->file()));
    EXPECT_EQ(f.keys->writes, 0);

    // The copy holds what the file holds: whole seconds.
    ConversationBackupRecord attempted = record(1);
    attempted.attempts = 2;
    attempted.lastAttemptAt = at(1'700'000'000'750);
    attempted.lastFailureCode = u"timeout"_qs;
    f.ok(f.store->upsert(attempted));
    EXPECT_EQ(f.store->file(), f.folder + u"/backup-state.lbs"_qs);
    EXPECT_EQ(modeOf(f.store->file()), 0600);
    EXPECT_EQ(f.keys->stored(u"conversation-backup-state-key-v1"_qs)->size(), 32);
    f.ok(f.store->setMigrationChoice(ConversationMigrationChoice::accepted));
    f.ok(
        f.store->replaceCachedConversations({ summary(5, u"Sunday"_qs), summary(6) }, at(1'700'000'100'999)));
    f.ok(f.store->markHidden(summary(6)));
    EXPECT_FALSE(f.bytes().contains("Sunday"));
    const State state = f.state();
    EXPECT_EQ(state.records.at(0).lastAttemptAt, at(1'700'000'000'000));
    EXPECT_EQ(state.cacheUpdatedAt, at(1'700'000'100'000));
    EXPECT_EQ(awaitTask(f.restarted()->state()).value(), state);
    EXPECT_EQ(f.keys->writes, 1);

    // A file loosened by someone else is private again after the next edit.
    ASSERT_TRUE(
        QFile::setPermissions(f.store->file(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    f.ok(f.store->removeRecord(id(1)));
    EXPECT_EQ(modeOf(f.store->file()), 0600);
}

TEST(ConversationBackupStore, FileFormOfOptionalFields)
{
    Fixture f;
    f.ok(f.store->upsert(record(1)));
    QJsonObject json = f.plaintext();
    EXPECT_FALSE(json.contains(u"migrationChoice"_qs));
    EXPECT_FALSE(json.contains(u"cacheUpdatedAt"_qs));
    EXPECT_EQ(json.value(u"hiddenConversations"_qs), QJsonArray {});

    // An older file without the hidden list reads with an empty one and gains the key on the next edit.
    json.remove(u"hiddenConversations"_qs);
    ASSERT_TRUE(FileSealer::writeFile(f.store->file(), f.key(), QJsonDocument(json).toJson()).has_value());
    const auto older = f.restarted();
    EXPECT_TRUE(awaitTask(older->hiddenConversations()).value().summaries.isEmpty());
    f.ok(older->setMigrationChoice(ConversationMigrationChoice::declined));
    EXPECT_EQ(f.plaintext().value(u"hiddenConversations"_qs), QJsonArray {});
    EXPECT_EQ(f.plaintext().value(u"migrationChoice"_qs), u"declined"_qs);
}

TEST(ConversationBackupStore, DamagedFilesMoveAsideAndAnUnavailableKeyWritesNothing)
{
    struct Case {
        const char* name;
        std::function<void(Fixture&)> damage;
        // Absent: the file is damaged, kept aside under a dated name, and the state starts empty.
        std::optional<ResultStoreFailure> error;
    };
    const Case cases[] = {
        { "last byte flipped",
            [](Fixture& f) { f.overwrite(f.bytes().chopped(1) + char(f.bytes().back() ^ 1)); }, {} },
        { "truncated to less than a box", [](Fixture& f) { f.overwrite(f.bytes().first(20)); }, {} },
        { "sealed JSON that is not a state",
            [](Fixture& f) {
                ASSERT_TRUE(
                    FileSealer::writeFile(f.store->file(), f.key(), R"({"records": []})").has_value());
            },
            {} },
        { "key of the wrong length",
            [](Fixture& f) { f.keys->put(QByteArray(20, 'k'), f.store->keyAccount()); },
            SecureStoreError::keyUnavailable() },
        { "key missing", [](Fixture& f) { (void)awaitTask(f.keys->values.remove(f.store->keyAccount())); },
            SecureStoreError::keyUnavailable() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.ok(f.store->upsert(record(1)));
        const auto key = f.keys->stored(f.store->keyAccount());
        c.damage(f);
        const QByteArray damaged = f.bytes();
        const auto keyNow = f.keys->stored(f.store->keyAccount());
        const int writes = f.keys->writes;
        const auto store = f.restarted();
        if (c.error) {
            for (int attempt = 0; attempt < 2; ++attempt) {
                EXPECT_THAT(awaitTask(store->state()), FailsWith(*c.error));
                EXPECT_THAT(awaitTask(store->upsert(record(2))), FailsWith(*c.error));
            }
            EXPECT_EQ(f.bytes(), damaged);
            EXPECT_EQ(f.keys->stored(f.store->keyAccount()), keyNow);
            EXPECT_EQ(f.keys->writes, writes);
            // The key comes back: everything opens again.
            f.keys->put(*key, f.store->keyAccount());
            EXPECT_EQ(awaitTask(store->records()).value().records, QList { record(1) });
            ASSERT_TRUE(awaitTask(store->removeAll()).has_value());
            EXPECT_FALSE(QFile::exists(f.store->file()));
            EXPECT_EQ(awaitTask(store->state()).value(), State {});
            continue;
        }
        EXPECT_EQ(awaitTask(store->state()).value(), State {});
        const QStringList aside = QDir(f.folder).entryList({ u"backup-state.lbs.unreadable-*"_qs });
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(test::contents(f.folder + u'/' + aside.first()), damaged);
        f.ok(store->upsert(record(2)));
        EXPECT_EQ(awaitTask(f.restarted()->records()).value().records, QList { record(2) });
        // Wiping the store takes the copy aside with it.
        ASSERT_TRUE(awaitTask(store->removeAll()).has_value());
        EXPECT_TRUE(QDir(f.folder).entryList({ u"backup-state.lbs*"_qs }).isEmpty());
    }
}

TEST(ConversationBackupStore, AFailedWriteNeverLetsTheCopyDivergeFromTheFile)
{
    Fixture f;
    f.ok(f.store->upsert(record(1)));
    f.ok(f.store->upsert(record(1, ConversationBackupState::stored)));

    // The folder turns into a plain file: the next write cannot even begin its temporary file.
    const QString moved = f.temporary.path() + u"/moved"_qs;
    ASSERT_TRUE(QDir().rename(f.folder, moved));
    test::overwrite(f.folder);
    const auto failed = awaitTask(f.store->upsert(record(2)));
    ASSERT_FALSE(failed.has_value());
    EXPECT_TRUE(std::holds_alternative<FileSystemError>(failed.error()));
    EXPECT_EQ(f.state().records, QList { record(1, ConversationBackupState::stored) });
    ASSERT_TRUE(QFile::remove(f.folder));
    ASSERT_TRUE(QDir().rename(moved, f.folder));

    // A key store that fails leaves the copy as it was too.
    f.keys->failingReads.insert(f.store->keyAccount());
    EXPECT_FALSE(awaitTask(f.store->setMigrationChoice(ConversationMigrationChoice::accepted)).has_value());
    f.keys->failingReads.clear();
    EXPECT_EQ(awaitTask(f.store->migrationChoice()).value().choice, std::nullopt);

    // A state that would not read back is refused before it reaches the file.
    EXPECT_FALSE(awaitTask(f.store->replaceCachedConversations({ summary(5) }, QDateTime())).has_value());

    // The next edit keeps the stored record: no duplicate upload after a restart.
    f.ok(f.store->upsert(record(3)));
    const QList expected { record(1, ConversationBackupState::stored), record(3) };
    EXPECT_EQ(f.state().records, expected);
    EXPECT_EQ(awaitTask(f.restarted()->state()).value(), f.state());
}

TEST(ConversationBackupStore, OperationsRunInCallOrderAndMakeOneKey)
{
    Fixture f;
    auto first = f.store->upsert(record(1));
    auto read = f.store->records();
    auto second = f.store->upsert(record(2));
    auto wipe = f.store->removeAll();
    auto last = f.store->upsert(record(3));
    EXPECT_TRUE(awaitTask(std::move(first)).has_value());
    EXPECT_EQ(awaitTask(std::move(read)).value().records, QList { record(1) });
    EXPECT_TRUE(awaitTask(std::move(second)).has_value());
    EXPECT_TRUE(awaitTask(std::move(wipe)).has_value());
    EXPECT_TRUE(awaitTask(std::move(last)).has_value());
    EXPECT_EQ(f.state().records, QList { record(3) });
    // One key for the file, and one for the file after the wipe, which took the first with it.
    EXPECT_EQ(f.keys->writes, 2);
}

TEST(ConversationBackupStore, EditsKeepPositionsAndMoveSummariesBetweenTheLists)
{
    using enum ConversationBackupState;
    Fixture f;
    f.ok(f.store->upsert(QList { record(1), record(2), record(3) }));
    f.ok(f.store->upsert(record(2, stored)));
    f.ok(f.store->upsert(QList { record(5), record(5, declined), record(1, abandoned) }));
    f.ok(f.store->removeRecord(id(3)));
    f.ok(f.store->removeRecord(id(42)));
    EXPECT_EQ(f.state().records, (QList { record(1, abandoned), record(2, stored), record(5, declined) }));

    using Ids = QList<QUuid>;
    f.ok(f.store->replaceCachedConversations({ summary(1), summary(2), summary(3) }, at(1'700'000'100'000)));

    f.ok(f.store->markHidden(summary(1, u"hidden copy"_qs)));
    EXPECT_EQ(ids(f.state().cachedConversations), (Ids { id(2), id(3) }));
    EXPECT_EQ(f.state().hiddenConversations, QList { summary(1, u"hidden copy"_qs) });
    f.ok(f.store->markUnhidden(id(1)));
    EXPECT_EQ(
        f.state().cachedConversations, (QList { summary(2), summary(3), summary(1, u"hidden copy"_qs) }));
    EXPECT_TRUE(f.state().hiddenConversations.isEmpty());

    // Merging never touches the hidden list, so one id may stand in both.
    f.ok(f.store->markHidden(summary(2)));
    f.ok(f.store->mergeCachedConversation(summary(2, u"merged"_qs)));
    f.ok(f.store->mergeCachedConversation(summary(3, u"merged"_qs)));
    EXPECT_EQ(ids(f.state().cachedConversations), (Ids { id(1), id(2), id(3) }));
    EXPECT_EQ(ids(f.state().hiddenConversations), Ids { id(2) });
    EXPECT_EQ(f.state().cacheUpdatedAt, at(1'700'000'100'000));

    f.ok(f.store->markHidden(summary(4)));
    f.ok(f.store->removeCachedConversation(id(2)));
    EXPECT_EQ(ids(f.state().cachedConversations), (Ids { id(1), id(3) }));
    EXPECT_EQ(ids(f.state().hiddenConversations), Ids { id(4) });

    // A new listing that holds a hidden id again drops it from the hidden list.
    f.ok(f.store->markHidden(summary(5)));
    f.ok(f.store->replaceCachedConversations({ summary(5), summary(6) }, at(1'700'000'200'000)));
    EXPECT_EQ(ids(f.state().cachedConversations), (Ids { id(5), id(6) }));
    EXPECT_EQ(ids(f.state().hiddenConversations), Ids { id(4) });
    EXPECT_EQ(f.state().cacheUpdatedAt, at(1'700'000'200'000));
}

// A file of a build before accounts were told apart: records, lists and answer that name no
// account (a nil id counts as none). Each account reads only its own lists and answer; the
// unowned ones are no account's. A record goes to an account on the proof of its list alone, and
// a removed account leaves no trace of its id, while what the earlier build reads stays in place.
TEST(ConversationBackupStore, EarlierRecordsGoToAnAccountOnlyOnItsListAndARemovedAccountLeavesNoTrace)
{
    Fixture f;
    const QUuid ann = id(7);
    const QUuid ben = id(8);
    f.ok(f.store->upsert(QList<ConversationBackupRecord> { record(1), record(2), record(3) }));
    f.ok(f.store->setMigrationChoice(ConversationMigrationChoice::accepted));
    f.ok(f.store->replaceCachedConversations({ summary(101) }, at(1'700'000'000'000)));
    QJsonObject json = f.plaintext();
    QJsonArray records = json.value(u"records"_qs).toArray();
    QJsonObject nil = records.at(2).toObject();
    nil.insert(u"accountID"_qs, QUuid().toString(QUuid::WithoutBraces));
    records.replace(2, nil);
    json.insert(u"records"_qs, records);
    ASSERT_TRUE(FileSealer::writeFile(f.store->file(), f.key(), QJsonDocument(json).toJson()).has_value());
    f.store = f.restarted();
    EXPECT_EQ(awaitTask(f.store->unclaimedRecords()).value().records.size(), 3);
    EXPECT_EQ(awaitTask(f.store->migrationChoice(ann)).value().choice, std::nullopt);
    EXPECT_TRUE(awaitTask(f.store->cachedConversations(ann)).value().summaries.isEmpty());

    // Ann's list holds the first conversation and Ben's the third: each takes its own alone.
    f.ok(f.store->replaceCachedConversations({ summary(101) }, at(1'700'000'100'000), ann));
    f.ok(f.store->setMigrationChoice(ConversationMigrationChoice::declined, ann));
    f.ok(f.store->claimListed(ann));
    f.ok(f.store->markHidden(summary(103), ben));
    f.ok(f.store->claimListed(ben));
    EXPECT_EQ(awaitTask(f.store->records(ann)).value().records, QList { [&] {
        ConversationBackupRecord mine = record(1);
        mine.accountID = ann;
        return mine;
    }() });
    EXPECT_EQ(awaitTask(f.store->records(ben)).value().records.size(), 1);
    EXPECT_EQ(awaitTask(f.store->unclaimedRecords()).value().records.first().localID, id(2));
    EXPECT_EQ(awaitTask(f.store->migrationChoice(ann)).value().choice, ConversationMigrationChoice::declined);
    EXPECT_EQ(awaitTask(f.store->migrationChoice(ben)).value().choice, std::nullopt);

    // Ann's lists and answer are set aside while Ben's are in use, and come back with her.
    f.ok(f.store->setMigrationChoice(ConversationMigrationChoice::accepted, ben));
    EXPECT_EQ(f.plaintext().value(u"migrationChoice"_qs), u"accepted"_qs);
    EXPECT_EQ(ids(awaitTask(f.store->cachedConversations(ann)).value().summaries), QList { id(101) });
    EXPECT_EQ(awaitTask(f.store->migrationChoice(ann)).value().choice, ConversationMigrationChoice::declined);

    for (const QUuid& account : { ben, ann }) {
        f.ok(f.store->removeAccount(account));
        ASSERT_TRUE(QFile::exists(f.store->file())) << "an earlier build's record is left";
        EXPECT_FALSE(QJsonDocument(f.plaintext())
                         .toJson()
                         .contains(account.toString(QUuid::WithoutBraces).toUpper().toLatin1()));
    }
    EXPECT_EQ(awaitTask(f.store->unclaimedRecords()).value().records.size(), 1);
    EXPECT_EQ(f.state().migrationChoice, std::nullopt);
}
