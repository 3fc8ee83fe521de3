#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>
#include <gtest/gtest.h>
#include <string>

namespace lumora::testing {

enum class Backend { sqlite, postgresql };

inline std::string backendName(const ::testing::TestParamInfo<Backend>& info)
{
    return info.param == Backend::sqlite ? "SQLite" : "PostgreSQL";
}

// An empty database for one test: a SQLite file in a temporary folder, or a new database in
// the PostgreSQL server that LUMORA_TEST_POSTGRESQL_URL names (set by
// scripts/with-test-postgresql). Without that server `url` stays empty and the test skips.
class TestDatabase {
public:
    explicit TestDatabase(Backend backend)
    {
        if (backend == Backend::sqlite) {
            url = "sqlite:" + m_dir.filePath("nested/store.sqlite");
            return;
        }
        const QString server = qEnvironmentVariable("LUMORA_TEST_POSTGRESQL_URL");
        if (server.isEmpty())
            return;
        const QString name = "lumora_test_" + QUuid::createUuid().toString(QUuid::Id128);
        if (!administer(server, "CREATE DATABASE " + name)) {
            ADD_FAILURE() << "cannot create a database on " << server.toStdString();
            return;
        }
        QUrl database(server);
        database.setPath("/" + name);
        url = database.toString();
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

    QString url;

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
    QString m_adminUrl;
    QString m_createdDatabase;
};

} // namespace lumora::testing
