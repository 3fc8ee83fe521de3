#include "ControlPlaneProcess.hpp"
#include "ProcessCalls.hpp"
#include "TestDatabase.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "domain/ConversationUploadCodec.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::codeOf;
using testing::ControlPlaneProcess;
using testing::TestReply;
using testing::TestRequest;

TestRequest upload(const ControlPlaneProcess& server, const DeviceIdentity& identity, const QUuid& device)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    ConversationUploadPayload payload;
    payload.conversationID = QUuid::createUuid();
    payload.startedAt = now - 60;
    payload.endedAt = now;
    payload.durationSeconds = 60;
    payload.transcript.segments = { SpeakerTurn(0, 0, 5, QStringLiteral("Hello")) };
    payload.analysis = ConversationAnalysisPayload { 1, QStringLiteral("Calm"), {}, {}, {}, false };
    const QByteArray body = ConversationUploadCodec::encode(payload).value_or(QByteArray());
    const QString path = QStringLiteral("/v1/content/conversations");
    return { "POST", testing::endpoint(server, path), body,
        { { "Content-Type", "application/json" },
            { "Authorization", testing::signedBy(identity, device, "POST", path, body) } } };
}

class AccountDeletionRace : public ::testing::TestWithParam<testing::Backend> { };

// An account deleted while its uploads are being stored is deleted whole: the deletion
// never answers a server failure, an upload either lands before it (and goes with the
// account) or is refused as coming from a device that no longer exists, and nothing of the
// account is left behind.
TEST_P(AccountDeletionRace, ADeletionRacingUploadsDeletesEverything)
{
    const testing::TestDatabase database(GetParam());
    ASSERT_FALSE(database.failed());
    if (database.url().isEmpty())
        GTEST_SKIP() << "no PostgreSQL server";
    ControlPlaneProcess server({ "--dev-sign-in", "--database", database.url() });
    ASSERT_TRUE(server.started());
    auto store = ControlPlaneStore::open(database.url());
    ASSERT_TRUE(store.has_value());
    constexpr int rounds = 12;
    constexpr int uploads = 6;
    for (int round = 0; round < rounds; ++round) {
        const DeviceIdentity identity(*P256PrivateKey::generate());
        const QUuid device = testing::signInOver(server, identity, QStringLiteral("Leaving %1").arg(round));
        ASSERT_FALSE(device.isNull());
        const QUuid account = (*store)->device(device)->accountID;
        QList<TestRequest> requests;
        for (int i = 0; i < uploads; ++i)
            requests.append(upload(server, identity, device));
        requests.insert(uploads / 2, testing::signedPost(server, identity, device, "/v1/account/delete", {}));
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
    EXPECT_EQ(server.stop(), 0);
}

LUMORA_ON_EVERY_BACKEND(AccountDeletionRace);

} // namespace
} // namespace lumora
