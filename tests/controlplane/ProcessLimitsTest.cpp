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

} // namespace
} // namespace lumora
