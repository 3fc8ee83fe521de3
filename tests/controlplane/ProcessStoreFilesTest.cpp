#include "ControlPlaneProcess.hpp"
#include "ProcessCalls.hpp"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace lumora {
namespace {

int rowsOf(const QString& database, const QString& table)
{
    int rows = -1;
    {
        QSqlDatabase reader = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
        reader.setDatabaseName(database);
        EXPECT_TRUE(reader.open());
        QSqlQuery count(QStringLiteral("SELECT COUNT(*) FROM ") + table, reader);
        if (count.next())
            rows = count.value(0).toInt();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    return rows;
}

// Another process that reads the database and goes (a backup, the command-line shell, a second
// instance stopping) finds the server still using it, so it leaves the write-ahead log in
// place: what the server commits afterwards is kept. Each request thread's first connection
// had closed a descriptor of the database file, which dropped the server's locks on it.
TEST(ProcessStoreFiles, AReaderInAnotherProcessLeavesTheServersLogInPlace)
{
    testing::ControlPlaneProcess server({ "--dev-sign-in" });
    ASSERT_TRUE(server.started());
    const DeviceIdentity identity(*P256PrivateKey::generate());
    const QUuid device = testing::signInOver(server, identity, QStringLiteral("Ada"));
    ASSERT_EQ(rowsOf(server.databasePath(), QStringLiteral("accounts")), 1);
    EXPECT_TRUE(QFile::exists(server.databasePath() + "-wal"));

    EXPECT_EQ(testing::codeOf(testing::send(testing::signedPost(
                  server, identity, device, "/v1/content/conversations", testing::conversationUpload()))),
        "201 ");
    EXPECT_EQ(server.stop(), 0);
    EXPECT_EQ(rowsOf(server.databasePath(), QStringLiteral("content_conversations")), 1);
}

} // namespace
} // namespace lumora
