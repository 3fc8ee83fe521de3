#include "ControlPlaneProcess.hpp"
#include "ProcessCalls.hpp"
#include "controlplane/IdText.hpp"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
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

QByteArray filesOf(const QString& database)
{
    QByteArray all;
    for (const QString& path : { database, database + QStringLiteral("-wal") }) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            all += file.readAll();
    }
    return all;
}

// A content key file as an operator makes one.
QString keyFile(const QTemporaryDir& folder, const char* name)
{
    const QString path = folder.filePath(QString::fromLatin1(name));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    file.write(QUuid::createUuid().toRfc4122().repeated(2).toBase64() + '\n');
    return path;
}

// What a conversation says and is called is stored sealed: the database's files hold none of
// it, while the account reads it back as it was. The key is the server's alone, and a key
// taken over from a previous one seals everything again, after which the previous key is no
// longer needed; a key that opens nothing keeps the server from starting.
TEST(ProcessStoreFiles, TheDatabaseHoldsNoTranscriptTextAndTheKeyCanBeReplaced)
{
    const QTemporaryDir folder;
    const QString first = keyFile(folder, "first.key");
    const QString database = folder.filePath("control-plane.sqlite");
    const QStringList serve { "--dev-sign-in", "--database", "sqlite:" + database };
    const DeviceIdentity identity(*P256PrivateKey::generate());
    QUuid device;
    QString path;
    const auto fetched = [&](const testing::ControlPlaneProcess& server) {
        return testing::send({ "GET", testing::endpoint(server, path), {},
            { { "Authorization", testing::signedBy(identity, device, "GET", path) } } });
    };
    {
        testing::ControlPlaneProcess server(serve + QStringList { "--content-key-file", first });
        ASSERT_TRUE(server.started());
        device = testing::signInOver(server, identity, QStringLiteral("Ada"));
        ConversationUploadPayload payload;
        payload.conversationID = QUuid::createUuid();
        payload.startedAt = QDateTime::currentSecsSinceEpoch() - 60;
        payload.endedAt = payload.startedAt + 60;
        payload.durationSeconds = 60;
        payload.title = QStringLiteral("Whose turn the dishes are");
        payload.transcript.segments
            = { SpeakerTurn(0, 0, 5, QStringLiteral("I feel unheard about the dishes")) };
        payload.analysis
            = ConversationAnalysisPayload { 1, QStringLiteral("Tender and tired"), {}, {}, {}, false };
        const auto stored = testing::send(testing::signedPost(server, identity, device,
            "/v1/content/conversations", ConversationUploadCodec::body(payload).value_or(QByteArray())));
        ASSERT_EQ(stored.status, 201) << testing::codeOf(stored);
        path = "/v1/content/conversations/" + idText(payload.conversationID);
        EXPECT_TRUE(fetched(server).body.contains("unheard about the dishes"));
        EXPECT_EQ(server.stop(), 0);
    }
    for (const char* text : { "unheard", "dishes", "Tender and tired", "Whose turn" })
        EXPECT_FALSE(filesOf(database).contains(text)) << text;

    const QString second = keyFile(folder, "second.key");
    {
        testing::ControlPlaneProcess server(
            serve + QStringList { "--content-key-file", second, "--previous-content-key-file", first });
        ASSERT_TRUE(server.started());
        EXPECT_TRUE(server.log().contains("sealed 1 stored conversations again"))
            << server.log().toStdString();
        EXPECT_EQ(server.stop(), 0);
    }
    {
        testing::ControlPlaneProcess server(serve + QStringList { "--content-key-file", second });
        ASSERT_TRUE(server.started()) << "the first key is no longer needed";
        EXPECT_TRUE(fetched(server).body.contains("unheard about the dishes"));
        EXPECT_EQ(server.stop(), 0);
    }
    const auto [code, output] = testing::ControlPlaneProcess::runToEnd(
        serve + QStringList { "--listen", "127.0.0.1:0", "--content-key-file", first });
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(output.contains("sealed under a content key")) << output.toStdString();
    QFile::setPermissions(second, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    const auto [shared, refusal] = testing::ControlPlaneProcess::runToEnd(
        serve + QStringList { "--listen", "127.0.0.1:0", "--content-key-file", second });
    EXPECT_EQ(shared, 1);
    EXPECT_TRUE(refusal.contains("owner-only")) << refusal.toStdString();
}

} // namespace
} // namespace lumora
