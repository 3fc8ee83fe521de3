#include "controlplane/ControlPlaneStore.hpp"

#include "TestDatabase.hpp"
#include "controlplane/ContentSeal.hpp"
#include "controlplane/ConversationContentStore.hpp"
#include "controlplane/IdText.hpp"
#include "controlplane/NonceWriter.hpp"
#include "controlplane/RequestAuthenticator.hpp"
#include "controlplane/SignInStartStore.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "domain/ConversationUploadPayload.hpp"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>

namespace lumora {
namespace {

using testing::Backend;

// Each test gets an empty database of its own (see TestDatabase).
class ControlPlaneStoreTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(database.failed());
        url = database.url();
        if (url.isEmpty())
            GTEST_SKIP() << "LUMORA_TEST_POSTGRESQL_URL is not set (scripts/with-test-postgresql sets it)";
    }

    std::unique_ptr<ControlPlaneStore> open()
    {
        auto store = ControlPlaneStore::open(url);
        EXPECT_TRUE(store.has_value()) << (store ? "" : store.error().toStdString());
        return store ? std::move(*store) : nullptr;
    }

    // A sign-in redeemed as the service does it; a ticket is issued once per request and
    // redeemed once, whatever the outcome.
    std::expected<DeviceRecord, TicketRefusal> redeem(
        ControlPlaneStore& store, const QString& name, const QString& key)
    {
        const QUuid requestID = QUuid::createUuid();
        SignInStartStore(store, SignInLimits::unbounded(), 600)
            .add({ { { requestID, key, "macos", now, std::nullopt, std::nullopt, false, {}, false, {} },
                {} } });
        const QString ticket = "hash-" + requestID.toString();
        EXPECT_TRUE(store.issueTicket(requestID, ticket, name, now));
        EXPECT_FALSE(store.issueTicket(requestID, ticket + "-again", "Eve", now));
        auto device = store.redeemTicket(ticket, now);
        EXPECT_EQ(store.redeemTicket(ticket, now), std::unexpected(TicketRefusal::notRedeemable));
        EXPECT_EQ(store.redeemTicket(ticket + "-again", now), std::unexpected(TicketRefusal::notRedeemable));
        return device;
    }

    DeviceRecord signIn(ControlPlaneStore& store, const QString& name, const QString& key)
    {
        const auto device = redeem(store, name, key);
        EXPECT_TRUE(device.has_value());
        return device.value_or(DeviceRecord {});
    }

    // Takes back what the step that kept each conversation's turns made, so that it runs again.
    static QStringList withoutTurns()
    {
        return testing::withoutLatestSteps()
            + QStringList { QStringLiteral("ALTER TABLE content_conversations DROP COLUMN turns"),
                  QStringLiteral("DELETE FROM schema_migrations WHERE version >= %1")
                      .arg(ControlPlaneStore::turnsVersion) };
    }

    // Takes back what the step that kept each document's size and every later one made, so that
    // they run again: documents and titles are columns of text as before.
    static QStringList withoutDocumentSizes()
    {
        return withoutTurns()
            + QStringList { QStringLiteral("DROP INDEX sign_in_requests_one_state"),
                  QStringLiteral("ALTER TABLE sign_in_requests DROP COLUMN state"),
                  QStringLiteral("ALTER TABLE content_conversations DROP COLUMN sealed_body"),
                  QStringLiteral("ALTER TABLE content_conversations DROP COLUMN sealed_title"),
                  QStringLiteral("ALTER TABLE content_conversations DROP COLUMN seal_key"),
                  QStringLiteral(
                      "ALTER TABLE content_conversations ADD COLUMN body TEXT NOT NULL DEFAULT ''"),
                  QStringLiteral("ALTER TABLE content_conversations ADD COLUMN title TEXT"),
                  QStringLiteral("DROP INDEX content_conversations_by_account_bytes"),
                  QStringLiteral("ALTER TABLE content_conversations DROP COLUMN body_bytes"),
                  QStringLiteral(
                      "CREATE INDEX content_conversations_by_account ON content_conversations (account_id)"),
                  QStringLiteral("DELETE FROM schema_migrations WHERE version >= 10") };
    }

    // Takes back what the step that gave each state one request made, and every later one, so
    // that they run again.
    static QStringList withoutOneState()
    {
        return testing::withoutLatestSteps()
            + QStringList { QStringLiteral("DROP INDEX sign_in_requests_one_state"),
                  QStringLiteral("DELETE FROM schema_migrations WHERE version >= 17") };
    }

    testing::TestDatabase database { GetParam() };
    QString url;
    qint64 now = 1'800'000'000;
};

LUMORA_ON_EVERY_BACKEND(ControlPlaneStoreTest);

TEST_P(ControlPlaneStoreTest, AppliesMigrationsOnceAndKeepsDataAcrossOpens)
{
    QUuid deviceID;
    {
        auto store = open();
        ASSERT_TRUE(store);
        EXPECT_EQ(store->schemaVersion(), ControlPlaneStore::latestSchemaVersion());
        deviceID = signIn(*store, "Ada", "key-a").id;
    }
    auto store = open();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->schemaVersion(), ControlPlaneStore::latestSchemaVersion());
    EXPECT_TRUE(store->device(deviceID).has_value());
}

// Simultaneous sign-ins could bind one key into two accounts before the database held the
// rule of one active device per key: upgrading keeps the key's oldest device alone active.
TEST_P(ControlPlaneStoreTest, UpgradingKeepsTheOldestDeviceOfAKeyBoundTwice)
{
    constexpr int oneKeyRuleVersion = 6;
    DeviceRecord first;
    DeviceRecord other;
    const QString twice = QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        auto store = open();
        ASSERT_TRUE(store);
        first = signIn(*store, "Ada", "key-a");
        other = signIn(*store, "Bob", "key-b");
        QSqlQuery query(QSqlDatabase::database(store->connectionName()));
        for (const QString& sql : withoutDocumentSizes())
            ASSERT_TRUE(query.exec(sql)) << query.lastError().text().toStdString();
        for (const QString& sql :
            { QStringLiteral("DROP INDEX devices_one_active_key"),
                // What later versions made, so that they run again.
                QStringLiteral("DROP TABLE provider_calls"),
                QStringLiteral("DELETE FROM schema_migrations WHERE version >= %1").arg(oneKeyRuleVersion),
                QStringLiteral("INSERT INTO devices (id, account_id, public_key, platform, created_at) VALUES"
                               " ('%1', '%2', 'key-a', 'macos', %3)")
                    .arg(twice, other.accountID.toString(QUuid::WithoutBraces))
                    .arg(now + 5) })
            ASSERT_TRUE(query.exec(sql)) << query.lastError().text().toStdString();
    }
    auto store = open();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->activeDeviceWithKey("key-a")->id, first.id);
    EXPECT_TRUE(store->device(QUuid::fromString(twice))->revoked);
    EXPECT_FALSE(store->device(other.id)->revoked);
    // From then on the database itself refuses a second active device of the key.
    QSqlQuery query(QSqlDatabase::database(store->connectionName()));
    EXPECT_FALSE(
        query.exec(QStringLiteral("UPDATE devices SET revoked_at = NULL WHERE id = '%1'").arg(twice)));
}

// Nonces were once kept by signer and nonce alone; those recorded then are still refused
// with the time they were signed at once the table is kept in time order.
TEST_P(ControlPlaneStoreTest, UpgradingKeepsTheNoncesSeen)
{
    constexpr int timeOrderVersion = 8;
    const QUuid seen = QUuid::createUuid();
    {
        auto store = open();
        ASSERT_TRUE(store);
        QSqlQuery query(QSqlDatabase::database(store->connectionName()));
        for (const QString& sql : withoutDocumentSizes())
            ASSERT_TRUE(query.exec(sql)) << query.lastError().text().toStdString();
        for (const QString& sql : { QStringLiteral("DROP TABLE request_nonces"),
                 QStringLiteral("CREATE TABLE request_nonces (signer TEXT NOT NULL, nonce TEXT NOT NULL,"
                                " request_time BIGINT NOT NULL, PRIMARY KEY (signer, nonce))"),
                 QStringLiteral("CREATE INDEX request_nonces_by_time ON request_nonces (request_time)"),
                 QStringLiteral("INSERT INTO request_nonces VALUES ('key:a', '%1', %2)")
                     .arg(idText(seen))
                     .arg(now),
                 QStringLiteral("DELETE FROM schema_migrations WHERE version >= %1").arg(timeOrderVersion) })
            ASSERT_TRUE(query.exec(sql)) << query.lastError().text().toStdString();
    }
    auto store = open();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->schemaVersion(), ControlPlaneStore::latestSchemaVersion());
    if (GetParam() == Backend::sqlite) {
        // SQLite keeps them in one tree, without row ids.
        QSqlQuery rowids(QSqlDatabase::database(store->connectionName()));
        EXPECT_FALSE(rowids.exec(QStringLiteral("SELECT rowid FROM request_nonces")));
    }
    EXPECT_FALSE(store->rememberNonce("key:a", seen, now));
    EXPECT_TRUE(store->rememberNonce("key:a", QUuid::createUuid(), now));
    store->forgetNoncesBefore(now + 1);
    EXPECT_TRUE(store->rememberNonce("key:a", seen, now));
}

// Documents and titles stored in clear, before each one kept its size, are sealed by the
// upgrade, which needs the content key to run; they open as they were, and count towards the
// quota as stored (sealed) from the index alone. On SQLite no trace of their text is left in
// the database's files.
TEST_P(ControlPlaneStoreTest, UpgradingSealsWhatWasStoredInClearAndCountsItAsStored)
{
    const ContentSeal seal(*SymmetricKey::random256());
    const auto add = [&](ControlPlaneStore& store, const QUuid& account, const QString& text, qint64 quota) {
        ConversationUploadPayload payload;
        payload.conversationID = QUuid::createUuid();
        return ConversationContentStore(store, seal).add(account, payload, text.toUtf8(), now, quota).outcome;
    };
    using Outcome = ConversationContentStore::AddOutcome;
    const QString words = QStringLiteral("{\"said\":\"we never talk about the bills \u00e9t\u00e9\"}");
    const QString title = QStringLiteral("The summer budget talk");
    const QUuid first = QUuid::createUuid();
    const QUuid second = QUuid::createUuid();
    QUuid ada;
    {
        auto store = open();
        ASSERT_TRUE(store);
        ada = signIn(*store, "Ada", "key-a").accountID;
        QSqlQuery query(QSqlDatabase::database(store->connectionName()));
        for (const QString& sql : withoutDocumentSizes())
            ASSERT_TRUE(query.exec(sql)) << query.lastError().text().toStdString();
        for (const auto& [id, body, named] : { std::tuple(first, words, QVariant(title)),
                 std::tuple(second, QString(100, u'x'), QVariant()) }) {
            query.prepare(QStringLiteral(
                "INSERT INTO content_conversations (id, account_id, workspace_id, mode, started_at, ended_at,"
                " duration_seconds, title, created_at, body) VALUES (?, ?, ?, 'conversation', 1, 2, 1, ?, ?, "
                "?)"));
            for (const QVariant& value : { QVariant(idText(id)), QVariant(idText(ada)), QVariant(idText(ada)),
                     named, QVariant(now), QVariant(body) })
                query.addBindValue(value);
            ASSERT_TRUE(query.exec()) << query.lastError().text().toStdString();
        }
    }
    const auto withoutKey = ControlPlaneStore::open(url);
    ASSERT_FALSE(withoutKey.has_value());
    EXPECT_TRUE(withoutKey.error().contains(u"--content-key-file")) << withoutKey.error().toStdString();

    auto opened = ControlPlaneStore::open(url, &seal);
    ASSERT_TRUE(opened.has_value()) << opened.error().toStdString();
    auto& store = *opened;
    EXPECT_EQ(store->schemaVersion(), ControlPlaneStore::latestSchemaVersion());
    ConversationContentStore content(*store, seal);
    EXPECT_EQ(content.body(ada, first), words.toUtf8());
    EXPECT_EQ(content.conversation(ada, first)->title, title);
    EXPECT_EQ(content.body(ada, second), QByteArray(100, 'x'));
    EXPECT_FALSE(content.conversation(ada, second)->title.has_value());
    // Under another key nothing opens.
    const ContentSeal other(*SymmetricKey::random256());
    EXPECT_THROW((void)ConversationContentStore(*store, other).body(ada, first), StoreFailure);

    // Stored: each document and title as sealed, 28 bytes more than its text.
    const qint64 stored = (words.toUtf8().size() + 28) + (title.size() + 28) + (100 + 28);
    EXPECT_EQ(add(*store, ada, QString(300, u'y'), stored + 327), Outcome::overQuota);
    EXPECT_EQ(add(*store, ada, QString(300, u'y'), stored + 328), Outcome::added);
    EXPECT_EQ(add(*store, ada, QStringLiteral("z"), stored + 328), Outcome::overQuota);
    if (GetParam() == Backend::sqlite) {
        // The sum reads the index alone, never a body.
        QSqlQuery plan(QSqlDatabase::database(store->connectionName()));
        ASSERT_TRUE(plan.exec(QStringLiteral("EXPLAIN QUERY PLAN SELECT COALESCE(SUM(body_bytes), 0)"
                                             " FROM content_conversations WHERE account_id = 'a'"
                                             " AND passed_at IS NULL")));
        ASSERT_TRUE(plan.next());
        EXPECT_TRUE(
            plan.value(3).toString().contains(u"COVERING INDEX content_conversations_by_account_bytes"))
            << plan.value(3).toString().toStdString();
        store.reset();
        const QString path = url.mid(QStringLiteral("sqlite:").size());
        for (const QString& file : { path, path + QStringLiteral("-wal") }) {
            QFile bytes(file);
            if (!bytes.open(QIODevice::ReadOnly))
                continue;
            const QByteArray all = bytes.readAll();
            EXPECT_FALSE(all.contains("bills")) << file.toStdString();
            EXPECT_FALSE(all.contains("summer budget")) << file.toStdString();
        }
    }
}

// Conversations stored before their turns were kept are counted by the upgrade, from the
// statistics their documents hold (or, without an analysis, their transcript as grouped).
TEST_P(ControlPlaneStoreTest, UpgradingCountsTheTurnsOfStoredConversations)
{
    const ContentSeal seal(*SymmetricKey::random256());
    ConversationUploadPayload analysed;
    analysed.conversationID = QUuid::createUuid();
    analysed.startedAt = now - 60;
    analysed.endedAt = now;
    analysed.durationSeconds = 60;
    analysed.transcript.segments = { SpeakerTurn(0, 0, 5, "One"), SpeakerTurn(1, 5, 9, "Two"),
        SpeakerTurn(0, 9, 12, "Three"), SpeakerTurn(1, 12, 15, "Four") };
    analysed.analysis = ConversationAnalysisPayload {};
    analysed.analysis->stats
        = { SpeakerStats { .speaker = 0, .turns = 4 }, SpeakerStats { .speaker = 1, .turns = 3 } };
    ConversationUploadPayload transcriptOnly;
    transcriptOnly.conversationID = QUuid::createUuid();
    transcriptOnly.startedAt = now - 61;
    transcriptOnly.endedAt = now - 1;
    transcriptOnly.durationSeconds = 60;
    transcriptOnly.transcript.segments = { SpeakerTurn(0, 0, 5, "Can we talk about the weekend plans?"),
        SpeakerTurn(1, 5, 9, "Yes, I would like that very much, tonight.") };
    QUuid ada;
    {
        auto opened = ControlPlaneStore::open(url, &seal);
        ASSERT_TRUE(opened.has_value());
        auto& store = *opened;
        ada = signIn(*store, "Ada", "key-a").accountID;
        for (const ConversationUploadPayload& payload : { analysed, transcriptOnly })
            ASSERT_EQ(ConversationContentStore(*store, seal)
                          .add(ada, payload, *ConversationUploadCodec::encode(payload), now, 1'000'000)
                          .outcome,
                ConversationContentStore::AddOutcome::added);
        QSqlQuery query(QSqlDatabase::database(store->connectionName()));
        for (const QString& sql : withoutTurns())
            ASSERT_TRUE(query.exec(sql)) << query.lastError().text().toStdString();
    }
    auto opened = ControlPlaneStore::open(url, &seal);
    ASSERT_TRUE(opened.has_value()) << opened.error().toStdString();
    auto& store = *opened;
    EXPECT_EQ(store->schemaVersion(), ControlPlaneStore::latestSchemaVersion());
    QList<std::optional<qint64>> turns;
    for (const StoredConversation& row : ConversationContentStore(*store, seal).page(ada, 10, std::nullopt))
        turns.append(row.turns);
    EXPECT_EQ(turns, (QList<std::optional<qint64>> { 7, 2 }));
}

// The statements SQLite runs while `count` is set, counted in the steps of its virtual machine:
// how a step's work grows with the rows, whatever the machine's speed or load.
class SqliteSteps {
public:
    SqliteSteps() { sqlite3_auto_extension(reinterpret_cast<void (*)()>(&SqliteSteps::attach)); }
    ~SqliteSteps() { sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&SqliteSteps::attach)); }
    SqliteSteps(const SqliteSteps&) = delete;
    SqliteSteps& operator=(const SqliteSteps&) = delete;

    static inline std::atomic<bool> count = false;
    static inline std::atomic<qint64> steps = 0;

private:
    static int attach(sqlite3* database, const char**, const void*)
    {
        sqlite3_trace_v2(database, SQLITE_TRACE_PROFILE, &SqliteSteps::finished, nullptr);
        return SQLITE_OK;
    }
    static int finished(unsigned, void*, void* statement, void*)
    {
        const int ran
            = sqlite3_stmt_status(static_cast<sqlite3_stmt*>(statement), SQLITE_STMTSTATUS_VM_STEP, 1);
        if (count)
            steps += ran;
        return 0;
    }
};

// Upgrading to one sign-in request per state keeps the first request of each state (and every
// request of before without one), and its work grows with the requests, not with their square:
// 20,000 requests took SQLite 47 s, and 200,000 more than five minutes.
TEST_P(ControlPlaneStoreTest, UpgradingToOneRequestPerStateKeepsTheFirstOfEachInWorkLinearInTheRows)
{
    const SqliteSteps counted;
    // The upgrade of `rows` requests in a database of its own: the steps it took (on SQLite) and
    // the requests it kept.
    const auto upgrade = [this](int rows) -> std::pair<qint64, int> {
        testing::TestDatabase own(GetParam());
        {
            auto store = ControlPlaneStore::open(own.url());
            EXPECT_TRUE(store.has_value());
            if (!store)
                return {};
            QSqlQuery query(QSqlDatabase::database((*store)->connectionName()));
            for (const QString& sql : withoutOneState())
                EXPECT_TRUE(query.exec(sql)) << query.lastError().text().toStdString();
            EXPECT_TRUE(QSqlDatabase::database((*store)->connectionName()).transaction());
            query.prepare(QStringLiteral("INSERT INTO sign_in_requests (id, device_public_key, platform,"
                                         " created_at, state) VALUES (?, 'key', 'linux', ?, ?)"));
            // States in pairs, the later of each pair started first, and every tenth without one.
            for (int row = 0; row < rows; ++row) {
                query.addBindValue(idText(QUuid::createUuid()));
                query.addBindValue(now - row);
                query.addBindValue(row % 10 == 9 ? QVariant(QMetaType::fromType<QString>())
                                                 : QVariant(QStringLiteral("state-%1").arg(row / 2)));
                EXPECT_TRUE(query.exec()) << query.lastError().text().toStdString();
            }
            EXPECT_TRUE(QSqlDatabase::database((*store)->connectionName()).commit());
        }
        SqliteSteps::steps = 0;
        SqliteSteps::count = true;
        auto store = ControlPlaneStore::open(own.url());
        SqliteSteps::count = false;
        EXPECT_TRUE(store.has_value());
        if (!store)
            return {};
        EXPECT_EQ((*store)->schemaVersion(), ControlPlaneStore::latestSchemaVersion());
        QSqlQuery kept(QSqlDatabase::database((*store)->connectionName()));
        // The later request of each pair is one an even number of seconds before `now`.
        EXPECT_TRUE(kept.exec(QStringLiteral("SELECT COUNT(*) FROM sign_in_requests"
                                             " WHERE (%1 - created_at) % 10 IN (0, 2, 4, 6)")
                                  .arg(now))
            && kept.next());
        EXPECT_EQ(kept.value(0).toInt(), 0) << "a later request of a state is kept";
        EXPECT_TRUE(kept.exec(QStringLiteral("SELECT COUNT(*) FROM sign_in_requests")) && kept.next());
        return { SqliteSteps::steps.load(), kept.value(0).toInt() };
    };
    constexpr int rows = 1500;
    const auto [some, keptOfSome] = upgrade(rows);
    const auto [twice, keptOfTwice] = upgrade(2 * rows);
    // Of each ten requests, five states: those of rows 0 to 8 in four pairs and row 8's alone
    // (its pair, row 9, has none), and row 9 without one.
    EXPECT_EQ(keptOfSome, rows / 10 * 6);
    EXPECT_EQ(keptOfTwice, 2 * rows / 10 * 6);
    if (GetParam() == Backend::sqlite) {
        EXPECT_LT(twice, some * 5 / 2)
            << "steps for " << rows << " requests: " << some << ", for twice as many: " << twice;
    }
}

// The database holds every account's transcripts: only the server's own user may read it,
// whatever umask it was started with.
TEST(ControlPlaneStoreFiles, FolderAndFilesAreTheOwnersAlone)
{
    const QTemporaryDir dir;
    const QString folder = dir.filePath("data");
    const QString path = folder + "/Lumora/control-plane.sqlite";
    const auto mode = [](const QString& file) {
        struct stat status { };
        return ::stat(QFile::encodeName(file).constData(), &status) == 0 ? status.st_mode & 07777 : 0u;
    };
    const mode_t previous = ::umask(0);
    {
        auto store = ControlPlaneStore::open("sqlite:" + path);
        ASSERT_TRUE(store.has_value());
        EXPECT_TRUE((*store)->rememberNonce("device:a", QUuid::createUuid(), 1));
        for (const QString& created : { folder, folder + "/Lumora" })
            EXPECT_EQ(mode(created), 0700u) << created.toStdString();
        for (const char* suffix : { "", "-wal", "-shm" })
            EXPECT_EQ(mode(path + suffix), 0600u) << suffix;
    }
    // Files left readable by an earlier version are narrowed when the server opens them.
    ::umask(previous);
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    ASSERT_TRUE(ControlPlaneStore::open("sqlite:" + path).has_value());
    EXPECT_EQ(mode(path), 0600u);
}

// Under steady writes the write-ahead log still starts over at the checkpoints, instead of
// growing by everything written: it never holds more than was written between two of them.
// A checkpoint follows every twenty commits or so; the bound is taken from the spans actually
// seen, as the writer goes on while a checkpoint runs.
TEST(ControlPlaneStoreFiles, TheLogStartsOverUnderSteadyWrites)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath("control-plane.sqlite");
    auto checkpointer = ControlPlaneStore::open("sqlite:" + path);
    ASSERT_TRUE(checkpointer.has_value());
    std::atomic<bool> stop = false;
    std::atomic<qint64> commits = 0;
    std::thread writer([&] {
        auto store = ControlPlaneStore::open("sqlite:" + path);
        if (!store) {
            // Ends the waits for commits, and the test with them.
            commits = -1;
            commits.notify_all();
            return;
        }
        (*store)->leaveCheckpoints();
        while (!stop) {
            (*store)->rememberNonce("device:a", QUuid::createUuid(), 1);
            ++commits;
            commits.notify_all();
        }
    });
    qint64 longestSpan = 0;
    qint64 spanStart = 0;
    for (int i = 0; i < 25; ++i) {
        for (qint64 seen = commits; seen >= 0 && seen - spanStart < 20; seen = commits)
            commits.wait(seen);
        (*checkpointer)->checkpoint();
        const qint64 now = commits;
        longestSpan = std::max(longestSpan, now - spanStart);
        spanStart = now;
    }
    stop = true;
    writer.join();
    longestSpan = std::max(longestSpan, commits - spanStart);
    ASSERT_GT(commits, 100);
    // A commit writes a page of the table and one of each index (three or four pages on
    // average, more when a page splits); one commit either side of a span may have been
    // under way when it was counted.
    const qint64 frame = 24 + 4096;
    EXPECT_LE(QFileInfo(path + "-wal").size(), 32 + (longestSpan + 2) * 6 * frame)
        << commits << " commits, at most " << longestSpan << " between checkpoints";
}

TEST(ControlPlaneStoreAddress, RefusesUnusableDatabaseAddresses)
{
    for (const char* url : { "mysql://u@h/db", "sqlite:", "postgresql:///nohost", "postgresql://u@h/", "" })
        EXPECT_FALSE(ControlPlaneStore::open(url).has_value()) << url;
}

TEST_P(ControlPlaneStoreTest, SameNameSameAccountAndAKeyMovesOnlyOnceRevoked)
{
    auto store = open();
    const DeviceRecord first = signIn(*store, "Ada", "key-a");
    const DeviceRecord again = signIn(*store, "Ada", "key-a");
    EXPECT_EQ(again.id, first.id);
    const DeviceRecord second = signIn(*store, "Ada", "key-b");
    EXPECT_EQ(second.accountID, first.accountID);
    EXPECT_NE(second.id, first.id);

    // Active in Ada's account, the key stays there.
    EXPECT_EQ(redeem(*store, "Bob", "key-a"), std::unexpected(TicketRefusal::keyActiveInAnotherAccount));
    EXPECT_FALSE(store->device(first.id)->revoked);
    EXPECT_EQ(store->activeDeviceWithKey("key-a")->id, first.id);

    ASSERT_TRUE(store->revokeDevice(first.accountID, first.id, now));
    const DeviceRecord moved = signIn(*store, "Bob", "key-a");
    EXPECT_NE(moved.accountID, first.accountID);
    EXPECT_EQ(store->activeDeviceWithKey("key-a")->id, moved.id);
}

TEST_P(ControlPlaneStoreTest, NoncesAreRefusedOnceSeenAndForgottenWhenOld)
{
    auto store = open();
    const QUuid nonce = QUuid::createUuid();
    EXPECT_TRUE(store->rememberNonce("key:a", nonce, now));
    EXPECT_FALSE(store->rememberNonce("key:a", nonce, now));
    EXPECT_TRUE(store->rememberNonce("key:b", nonce, now));

    // A device's nonce counts only while the device is active; the account comes with it.
    const DeviceRecord ada = signIn(*store, "Ada", "key-a");
    const DeviceRecord bob = signIn(*store, "Bob", "key-b");
    ASSERT_TRUE(store->revokeDevice(bob.accountID, bob.id, now));
    const auto remember = [&](const DeviceRecord& device, const QUuid& used, qint64 at) {
        return store->rememberNonceOfActiveDevice(device.id, "device:" + device.id.toString(), used, at);
    };
    EXPECT_EQ(remember(ada, nonce, now), ada.accountID);
    EXPECT_EQ(remember(ada, nonce, now), std::nullopt);
    EXPECT_EQ(remember(bob, QUuid::createUuid(), now), std::nullopt);
    EXPECT_EQ(
        remember(DeviceRecord { QUuid::createUuid(), ada.accountID, {}, false }, nonce, now), std::nullopt);
    EXPECT_EQ(store->countRows("accounts", ada.accountID), 1);

    // Old nonces are forgotten only when asked, by their time.
    store->forgetNoncesBefore(now);
    EXPECT_EQ(remember(ada, nonce, now), std::nullopt);
    store->forgetNoncesBefore(now + 1);
    EXPECT_EQ(remember(ada, nonce, now + 400), ada.accountID);
    EXPECT_TRUE(store->rememberNonce("key:a", nonce, now + 400));
    store->deleteAccount(ada.accountID, ContentSeal(*SymmetricKey::random256()), now);
    EXPECT_EQ(remember(ada, QUuid::createUuid(), now + 400), std::nullopt);
}

NonceClaim claimOf(const DeviceRecord& device, const QUuid& nonce, qint64 at)
{
    return NonceClaim { device.id, "device:" + idText(device.id), nonce, at };
}

// Claims that come together are decided in one statement, each as if it came alone: a nonce
// counts once, also when claimed twice in one batch or again in a later one, and only while
// its device is active.
TEST_P(ControlPlaneStoreTest, NoncesClaimedTogetherAreDecidedEachAsIfAlone)
{
    auto store = open();
    const DeviceRecord ada = signIn(*store, "Ada", "key-a");
    const DeviceRecord bob = signIn(*store, "Bob", "key-b");
    ASSERT_TRUE(store->revokeDevice(bob.accountID, bob.id, now));
    const DeviceRecord unknown { QUuid::createUuid(), ada.accountID, {}, false };
    const QUuid once = QUuid::createUuid();
    const QUuid twice = QUuid::createUuid();
    const QList<NonceClaim> batch { claimOf(ada, once, now), claimOf(ada, twice, now),
        claimOf(ada, twice, now + 1), claimOf(bob, QUuid::createUuid(), now),
        claimOf(unknown, QUuid::createUuid(), now) };
    EXPECT_EQ(NonceWriter::record(*store, batch), (std::vector<bool> { true, true, false, false, false }));
    EXPECT_EQ(
        NonceWriter::record(*store, { claimOf(ada, once, now), claimOf(ada, QUuid::createUuid(), now) }),
        (std::vector<bool> { false, true }));
    EXPECT_EQ(
        store->rememberNonceOfActiveDevice(ada.id, "device:" + idText(ada.id), twice, now), std::nullopt);
}

// Many requests claiming nonces at once through the writers: a nonce they share lets one of
// them go on, each of the others' own nonces lets its request go on, and every claim made
// before the writers stop is decided.
TEST_P(ControlPlaneStoreTest, OfOneNonceClaimedAtOnceByManyOneIsAccepted)
{
    auto store = open();
    const DeviceRecord ada = signIn(*store, "Ada", "key-a");
    const QUuid shared = QUuid::createUuid();
    std::atomic<int> accepted { 0 };
    std::atomic<int> refused { 0 };
    {
        NonceWriter writer(url);
        std::vector<std::jthread> claimants;
        for (int i = 0; i < 60; ++i)
            claimants.emplace_back([&, i] {
                writer.remember(
                    claimOf(ada, i % 2 ? shared : QUuid::createUuid(), now), [&](NonceOutcome outcome) {
                        ++(outcome == NonceOutcome::accepted ? accepted : refused);
                    });
            });
    }
    EXPECT_EQ(accepted, 31);
    EXPECT_EQ(refused, 29);
}

// Old nonces go by the database's clock, and only once no instance could accept them any
// more, also one whose clock is ahead by ten seconds.
TEST_P(ControlPlaneStoreTest, NoncesAreForgottenByTheDatabasesClockPastTheWindowAndAMargin)
{
    auto store = open();
    const qint64 current = QDateTime::currentSecsSinceEpoch();
    const QUuid recent = QUuid::createUuid();
    const QUuid old = QUuid::createUuid();
    const qint64 recentTime = current - RequestAuthenticator::allowedClockSkew - 10;
    const qint64 oldTime = current - RequestAuthenticator::nonceLifetime - 60;
    ASSERT_TRUE(store->rememberNonce("key:a", recent, recentTime));
    ASSERT_TRUE(store->rememberNonce("key:a", old, oldTime));
    store->forgetNoncesOlderThan(RequestAuthenticator::nonceLifetime);
    EXPECT_FALSE(store->rememberNonce("key:a", recent, recentTime));
    EXPECT_TRUE(store->rememberNonce("key:a", old, oldTime));
}

} // namespace
} // namespace lumora
