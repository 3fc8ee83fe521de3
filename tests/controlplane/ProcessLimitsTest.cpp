#include "ControlPlaneProcess.hpp"
#include "ProcessCalls.hpp"

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

} // namespace
} // namespace lumora
