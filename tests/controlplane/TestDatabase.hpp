#pragma once

#include "controlplane/ControlPlaneStore.hpp"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>
#include <gtest/gtest.h>
#include <string>

namespace lumora::testing {

enum class Backend { sqlite, postgresql };

inline std::string backendName(Backend backend)
{
    return backend == Backend::sqlite ? "SQLite" : "PostgreSQL";
}

// An empty database of one test's own: a SQLite file in a temporary folder, or a new
// database in the PostgreSQL server that LUMORA_TEST_POSTGRESQL_URL names (set by
// scripts/with-test-postgresql), dropped again at the end. Without that server the
// PostgreSQL database is unavailable and its tests skip.
class TestDatabase {
public:
    explicit TestDatabase(Backend backend)
    {
        if (backend == Backend::sqlite) {
            m_url = "sqlite:" + m_dir.filePath("nested/store.sqlite");
            return;
        }
        const QString server = qEnvironmentVariable("LUMORA_TEST_POSTGRESQL_URL");
        if (server.isEmpty())
            return;
        const QString name = "lumora_test_" + QUuid::createUuid().toString(QUuid::Id128);
        if (!administer(server, "CREATE DATABASE " + name)) {
            m_failed = true;
            return;
        }
        QUrl database(server);
        database.setPath("/" + name);
        m_url = database.toString();
        m_createdDatabase = name;
        m_adminUrl = server;
    }

    ~TestDatabase()
    {
        if (!m_createdDatabase.isEmpty())
            administer(m_adminUrl, "DROP DATABASE " + m_createdDatabase + " WITH (FORCE)");
    }

    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    // Empty when the database is unavailable.
    [[nodiscard]] const QString& url() const { return m_url; }
    // The PostgreSQL server was named but the database could not be made.
    [[nodiscard]] bool failed() const { return m_failed; }

private:
    static bool administer(const QString& server, const QString& statement)
    {
        const QString connection = "admin-" + QUuid::createUuid().toString();
        bool done = false;
        {
            const QUrl parsed(server);
            QSqlDatabase admin = QSqlDatabase::addDatabase("QPSQL", connection);
            admin.setHostName(parsed.host());
            admin.setPort(parsed.port(5432));
            admin.setUserName(parsed.userName());
            admin.setDatabaseName(parsed.path().mid(1));
            done = admin.open() && !admin.exec(statement).lastError().isValid();
            admin.close();
        }
        QSqlDatabase::removeDatabase(connection);
        return done;
    }

    QTemporaryDir m_dir;
    QString m_url;
    QString m_adminUrl;
    QString m_createdDatabase;
    bool m_failed = false;
};

// Writes bytes that open under no key into the sealed `column` (sealed_body or sealed_title) of
// the stored conversation `id`, as a damaged disk or a bad restore would: whether it was written.
inline bool spoilSealedValue(const QString& databaseUrl, const QString& column, const QUuid& id)
{
    auto store = ControlPlaneStore::open(databaseUrl);
    if (!store)
        return false;
    QSqlQuery spoil(QSqlDatabase::database((*store)->connectionName()));
    spoil.prepare("UPDATE content_conversations SET " + column + " = ? WHERE id = ?");
    spoil.addBindValue(QByteArray(60, 'x'));
    spoil.addBindValue(id.toString(QUuid::WithoutBraces));
    return spoil.exec() && spoil.numRowsAffected() == 1;
}

// Takes back the schema steps from the one that keeps where sign-in starts came from on, so that
// they run again: every step that an upgrade test runs again comes before them.
inline QStringList withoutLatestSteps()
{
    QStringList statements { QStringLiteral("DROP INDEX sign_in_requests_open"),
        QStringLiteral("DROP INDEX sign_in_requests_open_by_network"),
        QStringLiteral("ALTER TABLE sign_in_requests DROP COLUMN superseded_at"),
        QStringLiteral("DROP INDEX content_conversations_by_account_bytes"),
        QStringLiteral("ALTER TABLE content_conversations DROP COLUMN passed_at"),
        QStringLiteral("CREATE INDEX content_conversations_by_account_bytes ON content_conversations "
                       "(account_id, body_bytes)") };
    for (const char* index : { "by_time", "by_key", "by_address", "by_network" })
        statements.append(QStringLiteral("DROP INDEX sign_in_requests_%1").arg(QLatin1StringView(index)));
    return statements
        + QStringList { QStringLiteral("ALTER TABLE sign_in_requests DROP COLUMN client_address"),
              QStringLiteral("ALTER TABLE sign_in_requests DROP COLUMN client_network") };
}

} // namespace lumora::testing

// Instantiates a suite parameterised on the backend for SQLite and PostgreSQL.
#define LUMORA_ON_EVERY_BACKEND(suite)                                                                       \
    INSTANTIATE_TEST_SUITE_P(Backends, suite,                                                                \
        ::testing::Values(::lumora::testing::Backend::sqlite, ::lumora::testing::Backend::postgresql),       \
        [](const ::testing::TestParamInfo<::lumora::testing::Backend>& backend) {                            \
            return ::lumora::testing::backendName(backend.param);                                            \
        })
