#include "controlplane/SqlStatement.hpp"

#include "controlplane/ControlPlaneStore.hpp"

#include <QHash>
#include <QSqlError>
#include <memory>
#include <mutex>

namespace lumora {

namespace {

struct PreparedQuery {
    QSqlQuery query;
    bool inUse = false;
};

// Prepared statements by connection and text. Qt SQL connections belong to one thread,
// so each thread keeps those of its own connections.
using PreparedQueries = QHash<QString, QHash<QString, std::shared_ptr<PreparedQuery>>>;

// Set once this thread's prepared statements are gone at its end, when stores that other
// thread-local objects hold may still close.
thread_local bool preparedQueriesGone = false;

struct ThreadPreparedQueries {
    PreparedQueries queries;
    ThreadPreparedQueries() = default;
    ThreadPreparedQueries(const ThreadPreparedQueries&) = delete;
    ThreadPreparedQueries& operator=(const ThreadPreparedQueries&) = delete;
    ~ThreadPreparedQueries() { preparedQueriesGone = true; }
};

// Null at the thread's end: statements then run unprepared.
PreparedQueries* preparedQueries()
{
    if (preparedQueriesGone)
        return nullptr;
    thread_local ThreadPreparedQueries kept;
    return &kept.queries;
}

// SQLite lets one connection write at a time and makes the others retry after sleeps of
// up to 100 ms. The connections of this process take turns on a lock instead, which
// costs no sleep; a transaction holds it from its start to its end.
std::mutex& sqliteWriteLock()
{
    static std::mutex lock;
    return lock;
}

thread_local bool inSqliteTransaction = false;

bool isSqlite(const QSqlDatabase& database)
{
    return database.driverName() == u"QSQLITE";
}

bool writes(const QString& sql)
{
    for (const char* verb : { "INSERT", "UPDATE", "DELETE", "REPLACE", "BEGIN" })
        if (sql.startsWith(QLatin1StringView(verb), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

QSqlDatabase connectionOf(const QString& connection)
{
    QSqlDatabase database = QSqlDatabase::database(connection, false);
    if (!database.isOpen()) {
        // Statements prepared on the lost connection are gone with it.
        forgetPreparedStatements(connection);
        if (!database.open())
            throw StoreFailure(("cannot reopen the database: " + database.lastError().text()).toStdString());
    }
    return database;
}

std::unique_lock<std::mutex> holdSqliteWriters()
{
    return std::unique_lock(sqliteWriteLock());
}

void forgetPreparedStatements(const QString& connection)
{
    if (PreparedQueries* queries = preparedQueries())
        queries->remove(connection);
}

Statement::Statement(const QString& connection, const QString& sql, const QVariantList& values)
{
    const QSqlDatabase database = connectionOf(connection);
    if (!inSqliteTransaction && isSqlite(database) && writes(sql))
        m_writeLock = std::unique_lock(sqliteWriteLock());
    // PostgreSQL prepares only queries and data changes, so statements without values
    // (the schema's) run directly.
    if (values.isEmpty()) {
        m_own = QSqlQuery(database);
        if (!m_own.exec(sql))
            fail(connection, "statement failed: ");
        return;
    }
    PreparedQueries* queries = preparedQueries();
    std::shared_ptr<PreparedQuery> kept;
    if (queries) {
        auto& entry = (*queries)[connection][sql];
        if (!entry) {
            auto prepared = std::make_shared<PreparedQuery>();
            prepared->query = QSqlQuery(database);
            if (!prepared->query.prepare(sql)) {
                const QSqlError error = prepared->query.lastError();
                (*queries)[connection].remove(sql);
                fail(connection, error, "prepare failed: ");
            }
            entry = prepared;
        }
        kept = entry;
    }
    if (!kept || kept->inUse) {
        m_own = QSqlQuery(database);
        if (!m_own.prepare(sql))
            fail(connection, "prepare failed: ");
    } else {
        m_query = &kept->query;
        m_inUse = &kept->inUse;
        m_kept = kept;
        kept->inUse = true;
    }
    for (int index = 0; index < values.size(); ++index)
        m_query->bindValue(index, values.at(index));
    if (!m_query->exec())
        fail(connection, "statement failed: ");
}

Statement::~Statement()
{
    // Releases the result at once: an unfinished SQLite statement holds its read snapshot.
    m_query->finish();
    if (m_inUse)
        *m_inUse = false;
}

void Statement::fail(const QString& connection, const char* what)
{
    fail(connection, m_query->lastError(), what);
}

void Statement::fail(const QString& connection, const QSqlError& error, const char* what)
{
    if (m_inUse) {
        *m_inUse = false;
        m_inUse = nullptr;
    }
    m_query = &m_own;
    if (error.type() == QSqlError::ConnectionError) {
        forgetPreparedStatements(connection);
        QSqlDatabase::database(connection, false).close();
    }
    throw StoreFailure(what + error.text().toStdString());
}

Transaction::Transaction(const QString& connection)
    : m_connection(connection)
    , m_database(connectionOf(connection))
    , m_sqlite(isSqlite(m_database))
{
    if (m_sqlite) {
        m_writeLock = std::unique_lock(sqliteWriteLock());
        inSqliteTransaction = true;
        try {
            Statement(m_connection, QStringLiteral("BEGIN IMMEDIATE"));
        } catch (const StoreFailure&) {
            inSqliteTransaction = false;
            throw;
        }
        return;
    }
    if (!m_database.transaction())
        throw StoreFailure(("cannot begin: " + m_database.lastError().text()).toStdString());
}

Transaction::~Transaction()
{
    if (m_committed)
        return;
    if (!m_sqlite) {
        m_database.rollback();
        return;
    }
    try {
        Statement(m_connection, QStringLiteral("ROLLBACK"));
    } catch (const StoreFailure&) {
        // SQLite has rolled back by itself after the failure that brought us here.
    }
    inSqliteTransaction = false;
}

void Transaction::commit()
{
    if (m_sqlite) {
        Statement(m_connection, QStringLiteral("COMMIT"));
        inSqliteTransaction = false;
        m_writeLock.unlock();
    } else if (!m_database.commit())
        throw StoreFailure(("cannot commit: " + m_database.lastError().text()).toStdString());
    m_committed = true;
}

} // namespace lumora
