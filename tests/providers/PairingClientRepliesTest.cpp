#include "ClientFixture.hpp"
#include "ScriptedServer.hpp"

#include <QJsonDocument>

namespace lumora {
namespace {

using testing::await;
using testing::ScriptedServer;

// Requests and replies of the pairing calls that the real control plane never sends.
class PairingClientRepliesTest : public ::testing::Test {
protected:
    ControlPlaneClient clientFor(const ScriptedServer& server)
    {
        return ControlPlaneClient(server.baseUrl(), QUuid::createUuid(), identity, manager);
    }

    static QJsonObject sentBody(const ScriptedServer& server)
    {
        return QJsonDocument::fromJson(server.requests().value(0).body).object();
    }

    QNetworkAccessManager manager;
    DeviceIdentity identity = testing::newIdentity();
};

template <typename T> bool isDecodeError(const std::expected<T, ControlPlaneFailure>& result)
{
    return !result && std::holds_alternative<JsonDecodeError>(result.error());
}

TEST_F(PairingClientRepliesTest, BodiesCarryTheGivenValuesAndALowerCaseInviteID)
{
    const QUuid inviteID = QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
    ScriptedServer confirmed(200, R"({"member_count":2})");
    EXPECT_EQ(await(clientFor(confirmed).confirmPairingInvite(inviteID, "pairing-2026-08-18")),
        (PairingConfirmation { std::nullopt, 2 }));
    EXPECT_EQ(confirmed.requests().value(0).target, "/v1/pairing/invites/confirm");
    EXPECT_EQ(confirmed.requests().value(0).body,
        R"({"invite_id":"6f9619ff-8b86-d011-b42d-00c04fc964ff","policy_version":"pairing-2026-08-18"})");

    // The code goes out exactly as given; normalising it is the caller's business.
    ScriptedServer redeemed(200,
        R"({"invite_id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","confirm_expires_at":7,)"
        R"("history":{"conversation_count":0}})");
    const auto redemption = await(clientFor(redeemed).redeemPairingInvite("abcd efgh-jk"));
    ASSERT_TRUE(redemption.has_value());
    EXPECT_EQ(redemption->inviteID, inviteID);
    EXPECT_EQ(sentBody(redeemed), (QJsonObject { { "code", "abcd efgh-jk" } }));

    ScriptedServer issued(
        200, R"({"invite_id":"6f9619ff-8b86-d011-b42d-00c04fc964ff","code":"X","expires_at":9})");
    EXPECT_EQ(await(clientFor(issued).createPairingInvite("v")), (PairingInvite { inviteID, "X", 9 }));
    EXPECT_EQ(issued.requests().value(0).target, "/v1/pairing/invites");
    EXPECT_EQ(sentBody(issued), (QJsonObject { { "policy_version", "v" } }));
}

TEST_F(PairingClientRepliesTest, UnlinkNeedsOkWhateverItsValue)
{
    ScriptedServer refusedButOk(200, R"({"ok":false})");
    EXPECT_TRUE(await(clientFor(refusedButOk).unlinkPairing()));
    EXPECT_EQ(refusedButOk.requests().value(0).method, "POST");
    EXPECT_EQ(refusedButOk.requests().value(0).target, "/v1/pairing/unlink");
    EXPECT_TRUE(refusedButOk.requests().value(0).body.isEmpty());

    ScriptedServer empty(200, "{}");
    const auto result = await(clientFor(empty).unlinkPairing());
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(std::holds_alternative<JsonDecodeError>(result.error()));
}

TEST_F(PairingClientRepliesTest, StateIsAPlainGetAndNeedsItsPreviousWorkspaces)
{
    const QByteArray workspace = R"("workspace":{"workspace_id":"w","paired":false,"member_count":1})";
    ScriptedServer without(200, "{" + workspace + "}");
    EXPECT_TRUE(isDecodeError(await(clientFor(without).pairingState())));
    EXPECT_EQ(without.requests().value(0).method, "GET");
    EXPECT_EQ(without.requests().value(0).target, "/v1/pairing/state");
    EXPECT_TRUE(without.requests().value(0).body.isEmpty());

    ScriptedServer none(200, "{" + workspace + R"(,"pending_invite":null,"previous_workspaces":[]})");
    const auto state = await(clientFor(none).pairingState());
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->workspace, (PairingWorkspace { "w", false, 1, {}, {} }));
    EXPECT_FALSE(state->pendingInvite.has_value());
    EXPECT_EQ(state->conversationsInPreviousWorkspaces(), 0);

    // A reply in field names rather than the control plane's keys is not read.
    ScriptedServer converted(200, R"({"inviteID":"6f9619ff-8b86-d011-b42d-00c04fc964ff","memberCount":2})");
    EXPECT_TRUE(isDecodeError(await(clientFor(converted).confirmPairingInvite(QUuid::createUuid(), "v"))));
}

} // namespace
} // namespace lumora
