#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <memory>
#include <mutex>

namespace lumora {

// The database connection of a store, opened again when an earlier statement lost it (a
// restarted database server), so that the control plane recovers without a restart of
// its own. Throws StoreFailure when it cannot.
QSqlDatabase connectionOf(const QString& connection);

// Drops the prepared statements kept for a connection of this thread; a store calls it
// before it closes its connection.
void forgetPreparedStatements(const QString& connection);

// Holds back this process's SQLite writers (statements and transactions that write) until
// the lock returned is released.
std::unique_lock<std::mutex> holdSqliteWriters();

// One statement on a named connection; throws StoreFailure when it fails. Statements with
// values are prepared once per connection and kept for the next time the same text runs.
class Statement {
public:
    Statement(const QString& connection, const QString& sql, const QVariantList& values = {});
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool next() { return m_query->next(); }
    QVariant value(int column) const { return m_query->value(column); }
    int rowsAffected() const { return m_query->numRowsAffected(); }

private:
    [[noreturn]] void fail(const QString& connection, const char* what);
    [[noreturn]] void fail(const QString& connection, const QSqlError& error, const char* what);

    // Used when the kept query of the same text is still in use (a nested statement), and
    // for statements without values.
    QSqlQuery m_own;
    QSqlQuery* m_query = &m_own;
    bool* m_inUse = nullptr;
    // Keeps the prepared query alive while in use, even if its connection is lost meanwhile.
    std::shared_ptr<void> m_kept;
    std::unique_lock<std::mutex> m_writeLock;
};

// Runs a group of statements as one transaction, rolled back unless committed. On SQLite
// it takes the write lock at once, so that two connections that both read before they
// write wait for each other instead of one failing.
class Transaction {
public:
    explicit Transaction(const QString& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    QString m_connection;
    QSqlDatabase m_database;
    bool m_sqlite = false;
    bool m_committed = false;
    std::unique_lock<std::mutex> m_writeLock;
};

} // namespace lumora
