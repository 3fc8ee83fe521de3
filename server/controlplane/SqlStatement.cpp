#include "controlplane/SqlStatement.hpp"

#include "controlplane/ControlPlaneStore.hpp"

#include <QSqlError>

namespace lumora {

QSqlDatabase connectionOf(const QString& connection)
{
    QSqlDatabase database = QSqlDatabase::database(connection, false);
    if (!database.isOpen() && !database.open())
        throw StoreFailure(("cannot reopen the database: " + database.lastError().text()).toStdString());
    return database;
}

Statement::Statement(const QString& connection, const QString& sql, const QVariantList& values)
    : m_query(connectionOf(connection))
{
    // PostgreSQL prepares only queries and data changes, so statements without values
    // (the schema's) run directly.
    if (values.isEmpty()) {
        if (!m_query.exec(sql))
            fail(connection, "statement failed: ");
        return;
    }
    if (!m_query.prepare(sql))
        fail(connection, "prepare failed: ");
    for (const QVariant& value : values)
        m_query.addBindValue(value);
    if (!m_query.exec())
        fail(connection, "statement failed: ");
}

void Statement::fail(const QString& connection, const char* what)
{
    const QSqlError error = m_query.lastError();
    if (error.type() == QSqlError::ConnectionError)
        QSqlDatabase::database(connection, false).close();
    throw StoreFailure(what + error.text().toStdString());
}

Transaction::Transaction(const QString& connection)
    : m_database(connectionOf(connection))
{
    if (!m_database.transaction())
        throw StoreFailure(("cannot begin: " + m_database.lastError().text()).toStdString());
}

Transaction::~Transaction()
{
    if (!m_committed)
        m_database.rollback();
}

void Transaction::commit()
{
    if (!m_database.commit())
        throw StoreFailure(("cannot commit: " + m_database.lastError().text()).toStdString());
    m_committed = true;
}

} // namespace lumora
