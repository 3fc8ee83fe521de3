#include "ControlPlaneProcess.hpp"
#include "ProcessCalls.hpp"
#include "domain/ConversationUploadCodec.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

QByteArray conversationOf(const QString& words)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    ConversationUploadPayload payload;
    payload.conversationID = QUuid::createUuid();
    payload.startedAt = now - 60;
    payload.endedAt = now;
    payload.durationSeconds = 60;
    payload.transcript.segments = { SpeakerTurn(0, 0, 5, words) };
    payload.analysis = ConversationAnalysisPayload { 1, QStringLiteral("Calm"), {}, {}, {}, false };
    return ConversationUploadCodec::encode(payload).value_or(QByteArray());
}

// The quota given on the command line holds for the account's uploads.
TEST(ProcessLimits, UploadsPastTheStorageQuotaAreRefused)
{
    testing::ControlPlaneProcess server({ "--dev-sign-in", "--storage-quota", "4K" });
    ASSERT_TRUE(server.started());
    const DeviceIdentity identity(*P256PrivateKey::generate());
    const QUuid device = testing::signInOver(server, identity, QStringLiteral("Ada"));
    const auto upload = [&](const QByteArray& body) {
        const QString path = QStringLiteral("/v1/content/conversations");
        return testing::codeOf(testing::send({ "POST", testing::endpoint(server, path), body,
            { { "Content-Type", "application/json" },
                { "Authorization", testing::signedBy(identity, device, "POST", path, body) } } }));
    };
    EXPECT_EQ(upload(conversationOf(QString(1000, u'a'))), "201 ");
    EXPECT_EQ(upload(conversationOf(QString(3000, u'b'))), "507 storage_quota_exceeded");
    EXPECT_EQ(upload(conversationOf(QString(1000, u'c'))), "201 ");
    EXPECT_EQ(server.stop(), 0);
}

} // namespace
} // namespace lumora
