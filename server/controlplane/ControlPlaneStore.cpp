#include "controlplane/ControlPlaneStore.hpp"

#include "controlplane/ConversationContentStore.hpp"
#include "controlplane/IdText.hpp"
#include "controlplane/PairingStore.hpp"
#include "controlplane/SqlStatement.hpp"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {

namespace {

// Each entry is one schema version; a database runs those it has not seen, in order.
// Column types are those SQLite and PostgreSQL both understand; never edit a shipped
// entry, append a new one.
const QList<QStringList>& migrations()
{
    static const QList<QStringList> steps {
        {
            "CREATE TABLE accounts (id TEXT PRIMARY KEY, name TEXT NOT NULL UNIQUE, created_at BIGINT NOT "
            "NULL)",
            "CREATE TABLE devices (id TEXT PRIMARY KEY, account_id TEXT NOT NULL REFERENCES accounts(id),"
            " public_key TEXT NOT NULL, platform TEXT NOT NULL, created_at BIGINT NOT NULL, revoked_at "
            "BIGINT)",
            "CREATE INDEX devices_by_public_key ON devices (public_key)",
            "CREATE INDEX devices_by_account ON devices (account_id)",
            "CREATE TABLE sign_in_requests (id TEXT PRIMARY KEY, device_public_key TEXT NOT NULL,"
            " platform TEXT NOT NULL, created_at BIGINT NOT NULL, ticket_hash TEXT UNIQUE, account_name TEXT,"
            " ticket_issued_at BIGINT, redeemed_at BIGINT)",
            "CREATE TABLE request_nonces (signer TEXT NOT NULL, nonce TEXT NOT NULL, request_time BIGINT NOT "
            "NULL,"
            " PRIMARY KEY (signer, nonce))",
            "CREATE TABLE conversation_sessions (id TEXT PRIMARY KEY, account_id TEXT NOT NULL"
            " REFERENCES accounts(id), status TEXT NOT NULL, created_at BIGINT NOT NULL, expires_at BIGINT "
            "NOT NULL)",
            "CREATE TABLE diagnostics (id TEXT PRIMARY KEY, account_id TEXT NOT NULL REFERENCES accounts(id),"
            " device_id TEXT NOT NULL, event_type TEXT NOT NULL, status TEXT NOT NULL, received_at BIGINT "
            "NOT NULL)",
            "CREATE TABLE product_events (account_id TEXT NOT NULL REFERENCES accounts(id), event_id TEXT "
            "NOT NULL,"
            " device_id TEXT NOT NULL, event_type TEXT NOT NULL, app_version TEXT NOT NULL,"
            " occurred_at BIGINT NOT NULL, received_at BIGINT NOT NULL, PRIMARY KEY (account_id, event_id))",
        },
        {
            "CREATE TABLE usage_reservations (id TEXT PRIMARY KEY, account_id TEXT NOT NULL"
            " REFERENCES accounts(id), session_id TEXT NOT NULL, maximum_seconds DOUBLE PRECISION NOT NULL,"
            " status TEXT NOT NULL, created_at BIGINT NOT NULL, expires_at BIGINT NOT NULL,"
            " actual_seconds BIGINT, closed_at BIGINT)",
            "CREATE INDEX usage_reservations_by_session ON usage_reservations (session_id)",
            "CREATE UNIQUE INDEX usage_reservations_one_open ON usage_reservations (session_id)"
            " WHERE status = 'open'",
            "CREATE TABLE usage_reports (id TEXT PRIMARY KEY, account_id TEXT NOT NULL REFERENCES "
            "accounts(id),"
            " reservation_id TEXT NOT NULL REFERENCES usage_reservations(id), operation TEXT NOT NULL,"
            " model TEXT NOT NULL, duration_seconds BIGINT NOT NULL, latency_ms BIGINT NOT NULL,"
            " status_code BIGINT NOT NULL, estimated_cost_micros BIGINT NOT NULL, received_at BIGINT NOT "
            "NULL)",
        },
        {
            // Partner workspaces. An account without a current membership row is in its first
            // workspace, whose id is the account's id; current_workspaces answers for both.
            "CREATE TABLE workspaces (id TEXT PRIMARY KEY, created_at BIGINT NOT NULL, linked_at BIGINT)",
            "CREATE TABLE workspace_members (workspace_id TEXT NOT NULL REFERENCES workspaces(id),"
            " account_id TEXT NOT NULL REFERENCES accounts(id), joined_at BIGINT NOT NULL, left_at BIGINT,"
            " PRIMARY KEY (workspace_id, account_id))",
            "CREATE UNIQUE INDEX workspace_members_current ON workspace_members (account_id)"
            " WHERE left_at IS NULL",
            "CREATE VIEW current_workspaces AS SELECT accounts.id AS account_id,"
            " COALESCE(workspace_members.workspace_id, accounts.id) AS workspace_id FROM accounts"
            " LEFT JOIN workspace_members ON workspace_members.account_id = accounts.id"
            " AND workspace_members.left_at IS NULL",
            // Every workspace an account may read: its current one and those it has left.
            "CREATE VIEW account_workspaces AS SELECT account_id, workspace_id FROM workspace_members"
            " UNION SELECT account_id, workspace_id FROM current_workspaces",
            "CREATE TABLE pairing_invites (id TEXT PRIMARY KEY,"
            " account_id TEXT NOT NULL REFERENCES accounts(id), code TEXT NOT NULL,"
            " policy_version TEXT NOT NULL, status TEXT NOT NULL, created_at BIGINT NOT NULL,"
            " expires_at BIGINT NOT NULL, redeemed_by TEXT, redeemed_at BIGINT, confirm_expires_at BIGINT,"
            " confirmed_at BIGINT)",
            "CREATE INDEX pairing_invites_by_code ON pairing_invites (code)",
            "CREATE INDEX pairing_invites_by_account ON pairing_invites (account_id)",
            "CREATE INDEX pairing_invites_by_redeemer ON pairing_invites (redeemed_by)",
            "CREATE TABLE pairing_redeem_failures (account_id TEXT NOT NULL REFERENCES accounts(id),"
            " failed_at BIGINT NOT NULL)",
            "CREATE INDEX pairing_redeem_failures_by_account"
            " ON pairing_redeem_failures (account_id, failed_at)",
        },
        {
            // Every workspace an account is or was in, with when it left (null: the current
            // one), the first workspace of an account that never linked included.
            "CREATE VIEW workspace_memberships AS SELECT account_id, workspace_id, left_at FROM"
            " workspace_members UNION ALL SELECT id, id, NULL FROM accounts WHERE NOT EXISTS"
            " (SELECT 1 FROM workspace_members WHERE workspace_members.account_id = accounts.id"
            " AND workspace_members.left_at IS NULL)",
            "CREATE TABLE content_conversations (id TEXT PRIMARY KEY,"
            " account_id TEXT NOT NULL REFERENCES accounts(id), workspace_id TEXT NOT NULL,"
            " mode TEXT NOT NULL, started_at BIGINT NOT NULL, ended_at BIGINT NOT NULL,"
            " duration_seconds BIGINT NOT NULL, title TEXT, created_at BIGINT NOT NULL, body TEXT NOT NULL,"
            " deletion_requested_by TEXT, deletion_requested_at BIGINT, deletion_expires_at BIGINT)",
            "CREATE INDEX content_conversations_by_workspace ON content_conversations"
            " (workspace_id, ended_at, id)",
            "CREATE INDEX content_conversations_by_account ON content_conversations (account_id)",
            "CREATE TABLE content_hidden (account_id TEXT NOT NULL REFERENCES accounts(id),"
            " conversation_id TEXT NOT NULL REFERENCES content_conversations(id) ON DELETE CASCADE,"
            " hidden_at BIGINT NOT NULL, PRIMARY KEY (account_id, conversation_id))",
            "CREATE INDEX content_hidden_by_conversation ON content_hidden (conversation_id)",
        },
        {
            // Old nonces are forgotten by their time, away from the requests.
            "CREATE INDEX request_nonces_by_time ON request_nonces (request_time)",
        },
        {
            // One active device per key, whatever sign-ins run at once: a key bound into two
            // accounts would let either one's recovery answer for the other. A key that
            // simultaneous sign-ins bound twice keeps its oldest device.
            "UPDATE devices SET revoked_at = created_at WHERE revoked_at IS NULL AND EXISTS (SELECT 1 FROM"
            " devices AS older WHERE older.public_key = devices.public_key AND older.revoked_at IS NULL"
            " AND (older.created_at < devices.created_at OR (older.created_at = devices.created_at"
            " AND older.id < devices.id)))",
            "CREATE UNIQUE INDEX devices_one_active_key ON devices (public_key) WHERE revoked_at IS NULL",
        },
        {
            // Calls to the paid providers counted by minute: per reservation, and per account
            // with an empty reservation.
            "CREATE TABLE provider_calls (account_id TEXT NOT NULL, reservation_id TEXT NOT NULL,"
            " minute BIGINT NOT NULL, calls BIGINT NOT NULL, PRIMARY KEY (account_id, reservation_id, "
            "minute))",
        },
        {
            // Nonces kept in the order their requests were signed. Keyed by signer and nonce,
            // each new one landed on a page of its own among millions, so every batch rewrote
            // one page per request and the write-ahead log grew by some 4 KiB a request; keyed
            // by time first, a batch changes a few pages at the end. A replay carries the time
            // it was signed with, so it still meets its nonce; forgetting by time needs no
            // index of its own any more.
            "CREATE TABLE request_nonces_by_order (request_time BIGINT NOT NULL, signer TEXT NOT NULL,"
            " nonce TEXT NOT NULL, PRIMARY KEY (request_time, signer, nonce))",
            "INSERT INTO request_nonces_by_order (request_time, signer, nonce) SELECT request_time, signer,"
            " nonce FROM request_nonces",
            "DROP TABLE request_nonces",
            "ALTER TABLE request_nonces_by_order RENAME TO request_nonces",
        },
        {
            // SQLite's own form, below; PostgreSQL keeps its table.
        },
        {
            // Each document keeps the bytes of its body, so that an account's quota is summed
            // from an index that holds them beside the account, without reading one body.
            "ALTER TABLE content_conversations ADD COLUMN body_bytes BIGINT",
            "UPDATE content_conversations SET body_bytes = OCTET_LENGTH(body)",
            "ALTER TABLE content_conversations ALTER COLUMN body_bytes SET NOT NULL",
            "CREATE INDEX content_conversations_by_account_bytes ON content_conversations"
            " (account_id, body_bytes)",
            // The new index serves every look-up by account the old one did.
            "DROP INDEX content_conversations_by_account",
        },
        {
            // Documents and titles are stored sealed under the server's content key, which
            // `seal_key` names; the rows stored before are sealed by this step's code, and their
            // sizes counted again as stored.
            "ALTER TABLE content_conversations ADD COLUMN sealed_body BYTEA",
            "ALTER TABLE content_conversations ADD COLUMN sealed_title BYTEA",
            "ALTER TABLE content_conversations ADD COLUMN seal_key TEXT",
        },
        {
            "ALTER TABLE content_conversations DROP COLUMN body",
            "ALTER TABLE content_conversations DROP COLUMN title",
            "ALTER TABLE content_conversations ALTER COLUMN sealed_body SET NOT NULL",
            "ALTER TABLE content_conversations ALTER COLUMN seal_key SET NOT NULL",
        },
        {
            // The state value the application started a sign-in with, which its ticket is
            // redeemed with only; requests made before have none and lapse within the day.
            "ALTER TABLE sign_in_requests ADD COLUMN state TEXT",
        },
        {
            // Each conversation's turns as the application groups them, which its per-seat
            // statistics hold, so that a partner's History counts them without its document;
            // those stored before are counted by this step's code.
            "ALTER TABLE content_conversations ADD COLUMN turns BIGINT",
        },
        {
            // The conversations stored before the bounds of what the application writes are
            // brought within them by this step's code.
        },
        {
            // A deleted account's deletion requests were left on what passed to its partner,
            // for nobody, or for the partner's next partner, to approve.
            "UPDATE content_conversations SET deletion_requested_by = NULL, deletion_requested_at = NULL,"
            " deletion_expires_at = NULL WHERE deletion_requested_by IS NOT NULL AND NOT EXISTS"
            " (SELECT 1 FROM accounts WHERE accounts.id = content_conversations.deletion_requested_by)",
            // What a deleted account shared stayed in its partner's current workspace, where a
            // next partner would join it: this step's code makes it the partner's earlier history.
        },
        {
            // A state is carried by one sign-in request, held so by the database whatever starts
            // run at once. Of the requests that carried one state, the first made keeps it, as if
            // later starts had always been refused: the application makes each state afresh, so
            // a later one came from someone who had seen it. The requests are ranked in one pass
            // by state: looking for an earlier one row by row scanned the table for each on
            // SQLite, some five minutes for 200,000 requests.
            "DELETE FROM sign_in_requests WHERE id IN (SELECT id FROM (SELECT id, ROW_NUMBER() OVER"
            " (PARTITION BY state ORDER BY created_at, id) AS place FROM sign_in_requests"
            " WHERE state IS NOT NULL) AS ranked WHERE place > 1)",
            "CREATE UNIQUE INDEX IF NOT EXISTS sign_in_requests_one_state ON sign_in_requests (state)",
        },
        {
            // Where each start came from, by which starts are rated, and the indexes that count
            // them, the open requests of a key and in all, and find those lapsed, without a scan.
            "ALTER TABLE sign_in_requests ADD COLUMN client_address TEXT",
            "ALTER TABLE sign_in_requests ADD COLUMN client_network TEXT",
            "CREATE INDEX sign_in_requests_by_time ON sign_in_requests (created_at)",
            "CREATE INDEX sign_in_requests_by_key ON sign_in_requests (device_public_key, created_at)",
            "CREATE INDEX sign_in_requests_by_address ON sign_in_requests (client_address, created_at)",
            "CREATE INDEX sign_in_requests_by_network ON sign_in_requests (client_network, created_at)",
        },
        {
            // When a conversation passed to its keeper at its uploader's departure: it counts apart
            // from what the keeper uploads. The quota's sum reads the index alone, as before.
            "ALTER TABLE content_conversations ADD COLUMN passed_at BIGINT",
            "DROP INDEX content_conversations_by_account_bytes",
            "CREATE INDEX content_conversations_by_account_bytes ON content_conversations"
            " (account_id, passed_at, body_bytes)",
        },
        {
            // When a later start with the same device key took a request's place, and the open
            // requests in all and of a network, which their bounds read newest first, each in an
            // index of its own (the first holds every column it reads, so that SQLite reads no row;
            // with it alone, PostgreSQL read a network's through all of them until it had counted
            // the table's rows).
            "ALTER TABLE sign_in_requests ADD COLUMN superseded_at BIGINT",
            "CREATE INDEX sign_in_requests_open ON sign_in_requests (created_at, redeemed_at, superseded_at)"
            " WHERE redeemed_at IS NULL AND superseded_at IS NULL",
            "CREATE INDEX sign_in_requests_open_by_network ON sign_in_requests (client_network, created_at)"
            " WHERE redeemed_at IS NULL AND superseded_at IS NULL",
        },
    };
    return steps;
}

// The schema version whose step seals what was stored in clear (after its statements).
constexpr int sealingVersion = 11;

// Steps that SQLite takes in words of its own, by version, in place of the common ones.
const QHash<int, QStringList>& sqliteMigrations()
{
    static const QHash<int, QStringList> steps {
        {
            9,
            {
                // The nonces as one tree ordered by their key: with row ids every new nonce
                // went into the table and into its key's index, two pages more in the log
                // for each commit.
                "CREATE TABLE request_nonces_keyed (request_time BIGINT NOT NULL, signer TEXT NOT NULL,"
                " nonce TEXT NOT NULL, PRIMARY KEY (request_time, signer, nonce)) WITHOUT ROWID",
                "INSERT INTO request_nonces_keyed (request_time, signer, nonce) SELECT request_time, signer,"
                " nonce FROM request_nonces",
                "DROP TABLE request_nonces",
                "ALTER TABLE request_nonces_keyed RENAME TO request_nonces",
            },
        },
        {
            10,
            {
                // SQLite adds a column that may not be null only with a default, and counts a
                // text's bytes by casting it.
                "ALTER TABLE content_conversations ADD COLUMN body_bytes BIGINT NOT NULL DEFAULT 0",
                "UPDATE content_conversations SET body_bytes = LENGTH(CAST(body AS BLOB))",
                "CREATE INDEX content_conversations_by_account_bytes ON content_conversations"
                " (account_id, body_bytes)",
                "DROP INDEX content_conversations_by_account",
            },
        },
        {
            11,
            {
                "ALTER TABLE content_conversations ADD COLUMN sealed_body BLOB",
                "ALTER TABLE content_conversations ADD COLUMN sealed_title BLOB",
                "ALTER TABLE content_conversations ADD COLUMN seal_key TEXT",
            },
        },
        {
            // SQLite keeps the sealed columns as they were added: it changes no column's
            // constraints in place.
            12,
            {
                "ALTER TABLE content_conversations DROP COLUMN body",
                "ALTER TABLE content_conversations DROP COLUMN title",
            },
        },
    };
    return steps;
}

// Tables holding an account's data, children before the account itself.
constexpr std::initializer_list<const char*> accountTables
    = { "provider_calls", "content_hidden", "content_conversations", "pairing_redeem_failures",
          "pairing_invites", "workspace_members", "usage_reports", "usage_reservations", "product_events",
          "diagnostics", "conversation_sessions", "devices" };

DeviceRecord readDevice(const Statement& row)
{
    return DeviceRecord { QUuid::fromString(row.value(0).toString()),
        QUuid::fromString(row.value(1).toString()), row.value(2).toString(), !row.value(3).isNull() };
}

SignInRequestRecord readSignInRequest(const Statement& row)
{
    SignInRequestRecord request;
    request.id = QUuid::fromString(row.value(0).toString());
    request.devicePublicKey = row.value(1).toString();
    request.platform = row.value(2).toString();
    request.createdAt = row.value(3).toLongLong();
    if (!row.value(4).isNull())
        request.accountName = row.value(4).toString();
    if (!row.value(5).isNull())
        request.ticketIssuedAt = row.value(5).toLongLong();
    request.redeemed = !row.value(6).isNull();
    request.state = row.value(7).toString();
    request.superseded = !row.value(8).isNull();
    request.network = row.value(9).toString();
    return request;
}

const QString deviceColumns = QStringLiteral("id, account_id, public_key, revoked_at");
const QString signInColumns = QStringLiteral(
    "id, device_public_key, platform, created_at, account_name, ticket_issued_at, redeemed_at, state,"
    " superseded_at, client_network");

// Makes the folders missing on the way to `folder`, each readable by the owner alone.
bool makePrivateFolders(const QString& folder)
{
    QStringList missing;
    for (QString at = QDir::cleanPath(folder); !QFileInfo::exists(at); at = QFileInfo(at).path()) {
        if (missing.contains(at))
            return false; // a relative path's top that does not exist
        missing.prepend(at);
    }
    for (const QString& at : missing) {
        const QByteArray name = QFile::encodeName(at);
        // chmod as well: mkdir's mode passes through the umask.
        if (::mkdir(name.constData(), 0700) != 0 || ::chmod(name.constData(), 0700) != 0)
            return false;
    }
    return QFileInfo(folder).isDir();
}

// The database and its -wal and -shm files hold every account's conversations: mode 0600
// whatever the umask. SQLite gives the -wal and -shm files it creates the database file's
// mode; files that exist already, made under a wider mode, are narrowed.
bool makePrivateDatabaseFiles(const QString& path)
{
    // An existing database file is never opened here: closing any descriptor of a file drops
    // every POSIX lock this process holds on it, SQLite's among them, and each thread's first
    // connection came through here. Another process closing its own connection (a reader, a
    // second instance) then took itself for the last one and deleted the write-ahead log that
    // this one went on writing to, and every later commit was lost.
    const QByteArray name = QFile::encodeName(path);
    if (::chmod(name.constData(), 0600) != 0) {
        if (errno != ENOENT)
            return false;
        // A new file is nobody's yet: made private before SQLite writes to it.
        const int file = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (file >= 0)
            ::close(file);
        else if (errno != EEXIST || ::chmod(name.constData(), 0600) != 0)
            return false;
    }
    for (const char* suffix : { "-wal", "-shm" }) {
        const QByteArray companion = name + suffix;
        if (::chmod(companion.constData(), 0600) != 0 && errno != ENOENT)
            return false;
    }
    return true;
}

std::expected<QSqlDatabase, QString> configure(const QString& url, const QString& connection)
{
    if (url.startsWith(u"sqlite:")) {
        const QString path = url.mid(7);
        if (path.isEmpty())
            return std::unexpected(QStringLiteral("sqlite: needs a file path"));
        // A database in memory has no files to make private.
        if (path != u":memory:") {
            if (!makePrivateFolders(QFileInfo(path).absolutePath()))
                return std::unexpected(QStringLiteral("cannot create the folder of %1").arg(path));
            if (!makePrivateDatabaseFiles(path))
                return std::unexpected(QStringLiteral("cannot make %1 private to its owner").arg(path));
        }
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        database.setDatabaseName(path);
        database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        return database;
    }
    const QUrl parsed(url, QUrl::StrictMode);
    if (parsed.isValid() && (parsed.scheme() == u"postgresql" || parsed.scheme() == u"postgres")) {
        const QString name = parsed.path().mid(1);
        if (parsed.host().isEmpty() || name.isEmpty())
            return std::unexpected(QStringLiteral("postgresql URL needs a host and a database name"));
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        database.setHostName(parsed.host());
        database.setPort(parsed.port(5432));
        database.setDatabaseName(name);
        database.setUserName(parsed.userName());
        if (!parsed.password().isEmpty())
            database.setPassword(parsed.password());
        return database;
    }
    return std::unexpected(QStringLiteral("unsupported database URL (sqlite:PATH or postgresql://...)"));
}

} // namespace

ControlPlaneStore::ControlPlaneStore(QString connectionName)
    : m_connection(std::move(connectionName))
{
}

ControlPlaneStore::~ControlPlaneStore()
{
    forgetPreparedStatements(m_connection);
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

std::expected<std::unique_ptr<ControlPlaneStore>, QString> ControlPlaneStore::open(
    const QString& url, const ContentSeal* seal)
{
    const QString connection
        = QStringLiteral("control-plane-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    auto database = configure(url, connection);
    if (!database)
        return std::unexpected(database.error());
    std::unique_ptr<ControlPlaneStore> store(new ControlPlaneStore(connection));
    if (!database->open())
        return std::unexpected(
            QStringLiteral("cannot open the database: %1").arg(database->lastError().text()));
    try {
        if (database->driverName() == u"QSQLITE") {
            Statement(connection, QStringLiteral("PRAGMA journal_mode=WAL"));
            // In WAL mode a commit that a killed process made is kept all the same; only a
            // power loss may take the last ones, and the file stays whole.
            Statement(connection, QStringLiteral("PRAGMA synchronous=NORMAL"));
            Statement(connection, QStringLiteral("PRAGMA foreign_keys=ON"));
        }
        store->migrate(seal);
    } catch (const StoreFailure& failure) {
        return std::unexpected(QStringLiteral("cannot prepare the database: %1").arg(failure.what()));
    }
    return store;
}

void ControlPlaneStore::migrate(const ContentSeal* seal)
{
    // Made only where it is missing: PostgreSQL notices a table that exists already on the
    // server's output, and every connection of every start came through here.
    if (!connectionOf(m_connection).tables().contains(QStringLiteral("schema_migrations")))
        Statement(m_connection,
            QStringLiteral("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY,"
                           " applied_at BIGINT NOT NULL)"));
    const bool sqlite = connectionOf(m_connection).driverName() == u"QSQLITE";
    for (int version = schemaVersion() + 1; version <= latestSchemaVersion(); ++version) {
        Transaction transaction(m_connection);
        const QStringList& step = sqlite && sqliteMigrations().contains(version)
            ? *sqliteMigrations().find(version)
            : migrations().at(version - 1);
        for (const QString& sql : step)
            Statement(m_connection, sql);
        const bool sealed
            = version == sealingVersion && ConversationContentStore::sealClearRows(m_connection, seal);
        if (version == turnsVersion)
            ConversationContentStore::countStoredTurns(m_connection, seal);
        if (version == boundsVersion)
            ConversationContentStore::boundStoredRows(m_connection, seal);
        if (version == departuresVersion)
            PairingStore(*this).releaseKeepersOfDeletedPartners(QDateTime::currentSecsSinceEpoch());
        Statement(m_connection,
            QStringLiteral("INSERT INTO schema_migrations (version, applied_at) VALUES (?, ?)"),
            { version, QDateTime::currentSecsSinceEpoch() });
        transaction.commit();
        if (sealed && sqlite) {
            // The file is written afresh, so that no free page keeps a transcript the rows held
            // in clear, and the write-ahead log is emptied of the pages that held them.
            Statement(m_connection, QStringLiteral("VACUUM"));
            Statement(m_connection, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        }
    }
}

int ControlPlaneStore::schemaVersion() const
{
    Statement row(m_connection, QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM schema_migrations"));
    return row.next() ? row.value(0).toInt() : 0;
}

int ControlPlaneStore::latestSchemaVersion()
{
    return static_cast<int>(migrations().size());
}

std::optional<DeviceRecord> ControlPlaneStore::device(const QUuid& id) const
{
    Statement row(m_connection, "SELECT " + deviceColumns + " FROM devices WHERE id = ?", { idText(id) });
    if (!row.next())
        return std::nullopt;
    return readDevice(row);
}

std::optional<DeviceRecord> ControlPlaneStore::activeDeviceWithKey(const QString& publicKey) const
{
    Statement row(m_connection,
        "SELECT " + deviceColumns + " FROM devices WHERE public_key = ? AND revoked_at IS NULL",
        { publicKey });
    if (!row.next())
        return std::nullopt;
    return readDevice(row);
}

std::optional<QUuid> ControlPlaneStore::rememberNonceOfActiveDevice(
    const QUuid& deviceID, const QString& signer, const QUuid& nonce, qint64 requestTime)
{
    Statement insert(m_connection,
        QStringLiteral("INSERT INTO request_nonces (signer, nonce, request_time) SELECT ?, ?, ? FROM devices"
                       " WHERE id = ? AND revoked_at IS NULL ON CONFLICT DO NOTHING RETURNING"
                       " (SELECT account_id FROM devices WHERE id = ?)"),
        { signer, idText(nonce), requestTime, idText(deviceID), idText(deviceID) });
    if (!insert.next())
        return std::nullopt;
    return QUuid::fromString(insert.value(0).toString());
}

void ControlPlaneStore::forgetNoncesBefore(qint64 time)
{
    Statement(m_connection, QStringLiteral("DELETE FROM request_nonces WHERE request_time < ?"), { time });
}

void ControlPlaneStore::forgetNoncesOlderThan(qint64 age)
{
    const QString now = connectionOf(m_connection).driverName() == u"QSQLITE"
        ? QStringLiteral("CAST(strftime('%s', 'now') AS BIGINT)")
        : QStringLiteral("CAST(EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) AS BIGINT)");
    Statement(m_connection, "DELETE FROM request_nonces WHERE request_time < " + now + " - ?", { age });
}

std::unique_ptr<ControlPlaneStore> ControlPlaneStore::openWriter(const QString& url)
{
    auto opened = open(url);
    if (!opened)
        throw StoreFailure(opened.error().toStdString());
    (*opened)->leaveCheckpoints();
    return std::move(*opened);
}

void ControlPlaneStore::leaveCheckpoints()
{
    if (connectionOf(m_connection).driverName() == u"QSQLITE")
        Statement(m_connection, QStringLiteral("PRAGMA wal_autocheckpoint=0"));
}

namespace {

// A passive checkpoint copies what no reader still needs and never makes a writer wait:
// how many frames the log held when it began.
int passiveCheckpoint(const QString& connection)
{
    Statement checkpoint(connection, QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
    // Whether it was blocked, the frames in the log, those copied.
    return checkpoint.next() ? checkpoint.value(1).toInt() : 0;
}

} // namespace

void ControlPlaneStore::checkpoint()
{
    if (connectionOf(m_connection).driverName() != u"QSQLITE")
        return;
    // The log starts over only at a write that finds it wholly copied; under steady writes a
    // passive checkpoint never ends with nothing new behind it, and the log grew by all that
    // was written, some 80 MB a second at the load benchmark's rate. Passes follow one another
    // while each finds much that came during the one before; the last one runs with this
    // process's writers held back, so that the next write starts the log over. It is held
    // even when the passes never settle (a slow or busy machine): writers then wait for one
    // pass's worth of copying, once a second, rather than the log growing without end.
    constexpr int fewFrames = 1000;
    int frames = passiveCheckpoint(m_connection);
    for (int pass = 0; pass < 8; ++pass) {
        const int before = frames;
        frames = passiveCheckpoint(m_connection);
        if (frames - before < fewFrames)
            break;
    }
    const auto writersHeld = holdSqliteWriters();
    passiveCheckpoint(m_connection);
}

bool ControlPlaneStore::rememberNonce(const QString& signer, const QUuid& nonce, qint64 requestTime)
{
    Statement insert(m_connection,
        QStringLiteral("INSERT INTO request_nonces (signer, nonce, request_time) VALUES (?, ?, ?)"
                       " ON CONFLICT DO NOTHING"),
        { signer, idText(nonce), requestTime });
    return insert.rowsAffected() == 1;
}

std::optional<SignInRequestRecord> ControlPlaneStore::signInRequest(const QUuid& id) const
{
    Statement row(
        m_connection, "SELECT " + signInColumns + " FROM sign_in_requests WHERE id = ?", { idText(id) });
    if (!row.next())
        return std::nullopt;
    return readSignInRequest(row);
}

std::optional<SignInRequestRecord> ControlPlaneStore::signInRequestForTicket(const QString& ticketHash) const
{
    Statement row(m_connection, "SELECT " + signInColumns + " FROM sign_in_requests WHERE ticket_hash = ?",
        { ticketHash });
    if (!row.next())
        return std::nullopt;
    return readSignInRequest(row);
}

bool ControlPlaneStore::issueTicket(
    const QUuid& requestID, const QString& ticketHash, const QString& accountName, qint64 now)
{
    Statement update(m_connection,
        QStringLiteral("UPDATE sign_in_requests SET ticket_hash = ?, account_name = ?, ticket_issued_at = ?"
                       " WHERE id = ? AND ticket_hash IS NULL AND superseded_at IS NULL"),
        { ticketHash, accountName, now, idText(requestID) });
    return update.rowsAffected() == 1;
}

std::expected<DeviceRecord, TicketRefusal> ControlPlaneStore::redeemTicket(
    const QString& ticketHash, qint64 now)
{
    Transaction transaction(m_connection);
    Statement redeem(m_connection,
        QStringLiteral(
            "UPDATE sign_in_requests SET redeemed_at = ? WHERE ticket_hash = ? AND redeemed_at IS NULL"
            " AND superseded_at IS NULL"),
        { now, ticketHash });
    if (redeem.rowsAffected() != 1)
        return std::unexpected(TicketRefusal::notRedeemable);
    const auto request = signInRequestForTicket(ticketHash);
    if (!request || !request->accountName)
        return std::unexpected(TicketRefusal::notRedeemable);

    std::optional<QUuid> accountID = accountNamed(*request->accountName);
    // Whoever started the sign-in needed only the public key, not the private one.
    auto device = activeDeviceWithKey(request->devicePublicKey);
    if (device && device->accountID != accountID) {
        transaction.commit();
        return std::unexpected(TicketRefusal::keyActiveInAnotherAccount);
    }
    if (!accountID) {
        // A sign-in of the same name that runs at once may make the account first.
        Statement(m_connection,
            QStringLiteral(
                "INSERT INTO accounts (id, name, created_at) VALUES (?, ?, ?) ON CONFLICT DO NOTHING"),
            { idText(QUuid::createUuid()), *request->accountName, now });
        accountID = accountNamed(*request->accountName);
        if (!accountID)
            throw StoreFailure("an account vanished while it was made");
    }
    if (!device) {
        device = DeviceRecord { QUuid::createUuid(), *accountID, request->devicePublicKey, false };
        // Another sign-in of the same key that runs at once may bind it first: its device
        // stands, and this one is refused as if it had come second.
        Statement insert(m_connection,
            QStringLiteral("INSERT INTO devices (id, account_id, public_key, platform, created_at) VALUES "
                           "(?, ?, ?, ?, ?) ON CONFLICT DO NOTHING"),
            { idText(device->id), idText(*accountID), request->devicePublicKey, request->platform, now });
        if (insert.rowsAffected() != 1) {
            device = activeDeviceWithKey(request->devicePublicKey);
            if (!device || device->accountID != *accountID) {
                transaction.commit();
                return std::unexpected(TicketRefusal::keyActiveInAnotherAccount);
            }
        }
    }
    transaction.commit();
    return *device;
}

std::optional<QUuid> ControlPlaneStore::accountNamed(const QString& name) const
{
    Statement account(m_connection, QStringLiteral("SELECT id FROM accounts WHERE name = ?"), { name });
    if (!account.next())
        return std::nullopt;
    return QUuid::fromString(account.value(0).toString());
}

bool ControlPlaneStore::revokeDevice(const QUuid& accountID, const QUuid& deviceID, qint64 now)
{
    Statement update(m_connection,
        QStringLiteral(
            "UPDATE devices SET revoked_at = COALESCE(revoked_at, ?) WHERE id = ? AND account_id = ?"),
        { now, idText(deviceID), idText(accountID) });
    return update.rowsAffected() == 1;
}

void ControlPlaneStore::addConversationSession(
    const QUuid& accountID, const ConversationSessionRecord& session, qint64 now)
{
    Statement(m_connection,
        QStringLiteral("INSERT INTO conversation_sessions (id, account_id, status, created_at, expires_at)"
                       " VALUES (?, ?, ?, ?, ?)"),
        { idText(session.id), idText(accountID), session.status, now, session.expiresAt });
}

std::optional<ConversationSessionRecord> ControlPlaneStore::currentConversationSession(
    const QUuid& accountID, qint64 now) const
{
    Statement row(m_connection,
        QStringLiteral("SELECT id, status, expires_at FROM conversation_sessions WHERE account_id = ?"
                       " AND expires_at > ? ORDER BY created_at DESC, expires_at DESC LIMIT 1"),
        { idText(accountID), now });
    if (!row.next())
        return std::nullopt;
    return ConversationSessionRecord { QUuid::fromString(row.value(0).toString()), row.value(1).toString(),
        row.value(2).toLongLong() };
}

void ControlPlaneStore::addDiagnostic(const DiagnosticRecord& record, qint64 now)
{
    Statement(m_connection,
        QStringLiteral("INSERT INTO diagnostics (id, account_id, device_id, event_type, status, received_at)"
                       " VALUES (?, ?, ?, ?, ?, ?)"),
        { idText(QUuid::createUuid()), idText(record.accountID), idText(record.deviceID), record.eventType,
            record.status, now });
}

void ControlPlaneStore::addProductEvent(const ProductEventRecord& record, qint64 now)
{
    Statement(m_connection,
        QStringLiteral("INSERT INTO product_events (account_id, event_id, device_id, event_type, app_version,"
                       " occurred_at, received_at) VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING"),
        { idText(record.accountID), idText(record.eventID), idText(record.deviceID), record.eventType,
            record.appVersion, record.occurredAt, now });
}

int ControlPlaneStore::countRows(const QString& table, const QUuid& accountID) const
{
    const bool known = table == u"accounts" || std::ranges::any_of(accountTables, [&](const char* name) {
        return table == QLatin1StringView(name);
    });
    if (!known)
        throw StoreFailure("unknown table " + table.toStdString());
    const QString column = table == u"accounts" ? QStringLiteral("id") : QStringLiteral("account_id");
    Statement row(
        m_connection, "SELECT COUNT(*) FROM " + table + " WHERE " + column + " = ?", { idText(accountID) });
    return row.next() ? row.value(0).toInt() : 0;
}

namespace {

// The account's row, locked until the transaction ends on PostgreSQL: exclusively for its
// deletion, so that rows referring to it cannot be added meanwhile, or shared by those who
// add such rows. SQLite's transactions take the whole database for themselves anyway.
bool lockAccount(const QString& connection, const QUuid& accountID, const char* mode)
{
    const bool sqlite = connectionOf(connection).driverName() == u"QSQLITE";
    Statement row(connection,
        QStringLiteral("SELECT id FROM accounts WHERE id = ?")
            + (sqlite ? QString() : QLatin1StringView(mode)),
        { idText(accountID) });
    return row.next();
}

} // namespace

bool ControlPlaneStore::holdAccount(const QUuid& accountID)
{
    return lockAccount(m_connection, accountID, " FOR KEY SHARE");
}

bool ControlPlaneStore::holdAccountAlone(const QUuid& accountID)
{
    // Holders of the key share wait neither for it nor it for them.
    return lockAccount(m_connection, accountID, " FOR NO KEY UPDATE");
}

void ControlPlaneStore::deleteAccount(const QUuid& accountID, const ContentSeal& seal, qint64 now)
{
    Transaction transaction(m_connection);
    lockAccount(m_connection, accountID, " FOR UPDATE");
    // The sign-in requests hold the account's name: they forget it, and one not redeemed yet never
    // will be. They are kept while the rates count them (see SignInStartStore.hpp).
    Statement(m_connection,
        QStringLiteral(
            "UPDATE sign_in_requests SET account_name = NULL, redeemed_at = COALESCE(redeemed_at, ?)"
            " WHERE account_name IN (SELECT name FROM accounts WHERE id = ?)"),
        { now, idText(accountID) });
    // A conversation that another member of its workspace sees (one who is in it, or was when
    // it was stored) is that member's as much as the account's: it passes to that member,
    // and only what the account alone holds goes with it.
    ConversationContentStore::passToKeepers(m_connection, seal, accountID, now);
    ConversationContentStore::withdrawRequestsOf(m_connection, accountID);
    // As at an unlink, the partner goes on in a workspace of its own: what the two shared is its
    // earlier history, which a next partner does not join.
    PairingStore(*this).releasePartnersOf(accountID, now);
    for (const char* table : accountTables)
        Statement(m_connection,
            QStringLiteral("DELETE FROM %1 WHERE account_id = ?").arg(QLatin1StringView(table)),
            { idText(accountID) });
    Statement(m_connection, QStringLiteral("DELETE FROM accounts WHERE id = ?"), { idText(accountID) });
    transaction.commit();
}

} // namespace lumora
