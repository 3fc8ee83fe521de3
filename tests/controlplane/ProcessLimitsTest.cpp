#include "ControlPlaneProcess.hpp"
#include "ProcessCalls.hpp"
#include "controlplane/ConversationContentEndpoints.hpp"

#include <QSet>
#include <gtest/gtest.h>

namespace lumora {
namespace {

// The quota given on the command line holds for the account's uploads.
TEST(ProcessLimits, UploadsPastTheStorageQuotaAreRefused)
{
    testing::ControlPlaneProcess server({ "--dev-sign-in", "--storage-quota", "4K" });
    ASSERT_TRUE(server.started());
    const DeviceIdentity identity(*P256PrivateKey::generate());
    const QUuid device = testing::signInOver(server, identity, QStringLiteral("Ada"));
    const auto upload = [&](const QString& words) {
        return testing::codeOf(testing::send(testing::signedPost(
            server, identity, device, "/v1/content/conversations", testing::conversationUpload(words))));
    };
    EXPECT_EQ(upload(QString(1000, u'a')), "201 ");
    EXPECT_EQ(upload(QString(3000, u'b')), "507 storage_quota_exceeded");
    EXPECT_EQ(upload(QString(1000, u'c')), "201 ");
    EXPECT_EQ(server.stop(), 0);
}

// Uploads of one account sent all at once pass its quota no more than uploads sent one by
// one: each checks what the others stored.
class ProcessQuota : public ::testing::TestWithParam<testing::Backend> {
protected:
    testing::TestDatabase database { GetParam() };
};

LUMORA_ON_EVERY_BACKEND(ProcessQuota);

TEST_P(ProcessQuota, UploadsSentTogetherStayWithinTheQuota)
{
    ASSERT_FALSE(database.failed());
    if (database.url().isEmpty())
        GTEST_SKIP() << "no PostgreSQL server";
    const QString words(1000, u'a');
    const auto size = testing::conversationUpload(words).size();
    constexpr int fitting = 3;
    testing::ControlPlaneProcess server({ "--dev-sign-in", "--database", database.url(), "--storage-quota",
        QString::number(fitting * size + size / 2) });
    ASSERT_TRUE(server.started());
    const DeviceIdentity identity(*P256PrivateKey::generate());
    const QUuid device = testing::signInOver(server, identity, QStringLiteral("Ada"));
    QList<testing::TestRequest> requests;
    for (int i = 0; i < 12; ++i)
        requests.append(testing::signedPost(
            server, identity, device, "/v1/content/conversations", testing::conversationUpload(words)));
    int stored = 0;
    for (const testing::TestReply& reply : testing::sendTogether(requests)) {
        const std::string code = testing::codeOf(reply);
        EXPECT_TRUE(code == "201 " || code == "507 storage_quota_exceeded") << code;
        stored += code == "201 " ? 1 : 0;
    }
    EXPECT_EQ(stored, fitting);
    EXPECT_EQ(server.stop(), 0);
}

// A page of the account's list holds no more than its byte bound however long the titles, and
// the rest follows through the cursor; a title longer than the application writes is refused.
class ProcessPages : public testing::ProcessOnEveryBackend { };

LUMORA_ON_EVERY_BACKEND(ProcessPages);

TEST_P(ProcessPages, APageOfTheListHoldsNoMoreThanItsBytes)
{
    const DeviceIdentity identity(*P256PrivateKey::generate());
    const QUuid device = testing::signInOver(*server, identity, QStringLiteral("Ada"));
    const QString path = QStringLiteral("/v1/content/conversations");
    // The longest title: 200 characters of four UTF-16 units, each unit three bytes of UTF-8.
    const QString longest = QStringLiteral("\u20AC\u20DD\u20DD\u20DD").repeated(200);
    const auto upload = [&](const QString& title) {
        QJsonObject body = QJsonDocument::fromJson(testing::conversationUpload()).object();
        body.insert("title", title);
        return testing::codeOf(testing::send(testing::signedPost(*server, identity, device, path, body)));
    };
    EXPECT_EQ(upload(longest + u'x'), "400 invalid_request");
    constexpr int stored = 100;
    for (int i = 0; i < stored; ++i)
        ASSERT_EQ(upload(longest), "201 ");

    QSet<QString> listed;
    int pages = 0;
    QString cursor;
    do {
        QUrl url = testing::endpoint(*server, path);
        url.setQuery("limit=100" + (cursor.isEmpty() ? QString() : "&cursor=" + cursor));
        QNetworkAccessManager manager;
        const auto reply = testing::sendRequest(manager, "GET", url, {},
            { { "Authorization", testing::signedBy(identity, device, "GET", path) } });
        ASSERT_EQ(reply.status, 200) << reply.body.left(200).toStdString();
        EXPECT_LE(reply.body.size(), ConversationContentEndpoints::maximumPageBytes + 4096);
        const QJsonObject page = QJsonDocument::fromJson(reply.body).object();
        for (const QJsonValue& row : page.value("conversations").toArray()) {
            listed.insert(row.toObject().value("id").toString());
            EXPECT_EQ(row.toObject().value("title").toString(), longest);
            // Counted with the rest of the row.
            EXPECT_TRUE(row.toObject().value("turns").isDouble());
        }
        cursor = page.value("next_cursor").toString();
        ++pages;
    } while (!cursor.isEmpty() && pages < 10);
    EXPECT_EQ(listed.size(), stored);
    EXPECT_GE(pages, 2) << "some 50 rows a page";
}

} // namespace
} // namespace lumora
