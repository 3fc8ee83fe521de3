#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace lumora {

// The database connection of a store, opened again when an earlier statement lost it (a
// restarted database server), so that the control plane recovers without a restart of
// its own. Throws StoreFailure when it cannot.
QSqlDatabase connectionOf(const QString& connection);

// One statement on a named connection; throws StoreFailure when it fails.
class Statement {
public:
    Statement(const QString& connection, const QString& sql, const QVariantList& values = {});

    bool next() { return m_query.next(); }
    QVariant value(int column) const { return m_query.value(column); }
    int rowsAffected() const { return m_query.numRowsAffected(); }

private:
    [[noreturn]] void fail(const QString& connection, const char* what);

    QSqlQuery m_query;
};

// Runs a group of statements as one transaction, rolled back unless committed.
class Transaction {
public:
    explicit Transaction(const QString& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    QSqlDatabase m_database;
    bool m_committed = false;
};

} // namespace lumora
