#include "ProcessCalls.hpp"
#include "controlplane/ControlPlaneStore.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::codeOf;
using testing::TestReply;
using testing::TestRequest;

using AccountDeletionRace = testing::ProcessOnEveryBackend;

// An account deleted while its uploads are being stored is deleted whole: the deletion
// never answers a server failure, an upload either lands before it (and goes with the
// account) or is refused as coming from a device that no longer exists, and nothing of the
// account is left behind.
TEST_P(AccountDeletionRace, ADeletionRacingUploadsDeletesEverything)
{
    auto store = ControlPlaneStore::open(database.url());
    ASSERT_TRUE(store.has_value());
    constexpr int rounds = 12;
    constexpr int uploads = 6;
    for (int round = 0; round < rounds; ++round) {
        const DeviceIdentity identity(*P256PrivateKey::generate());
        const QUuid device = testing::signInOver(*server, identity, QStringLiteral("Leaving %1").arg(round));
        ASSERT_FALSE(device.isNull());
        const QUuid account = (*store)->device(device)->accountID;
        QList<TestRequest> requests;
        for (int i = 0; i < uploads; ++i)
            requests.append(testing::signedPost(
                *server, identity, device, "/v1/content/conversations", testing::conversationUpload()));
        requests.insert(uploads / 2,
            testing::signedPost(*server, identity, device, "/v1/account/delete", QJsonObject {}));
        const QList<TestReply> replies = testing::sendTogether(requests);
        for (qsizetype i = 0; i < replies.size(); ++i) {
            if (i == uploads / 2) {
                EXPECT_EQ(replies[i].status, 200) << "round " << round << ": " << codeOf(replies[i]);
                continue;
            }
            const std::string code = codeOf(replies[i]);
            EXPECT_TRUE(code == "201 " || code == "401 unknown_device") << "round " << round << ": " << code;
        }
        for (const char* table : { "accounts", "content_conversations", "devices" })
            EXPECT_EQ((*store)->countRows(QString::fromLatin1(table), account), 0)
                << "round " << round << ": " << table;
    }
}

LUMORA_ON_EVERY_BACKEND(AccountDeletionRace);

} // namespace
} // namespace lumora
