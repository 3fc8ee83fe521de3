#include "ClientFixture.hpp"

#include <QJsonDocument>

namespace lumora {
namespace {

using testing::await;
using testing::isDecodeError;
using testing::ScriptedServer;

// Requests and replies of the pairing calls that the real control plane never sends.
using PairingClientRepliesTest = testing::ScriptedClientTest;

TEST_F(PairingClientRepliesTest, RequestsCarryTheGivenValuesAndALowerCaseInviteID)
{
    const QUuid inviteID = QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
    ScriptedServer confirmed(200, R"({"member_count":2})");
    EXPECT_EQ(await(clientFor(confirmed).confirmPairingInvite(inviteID, "pairing-2026-08-18")),
        (PairingConfirmation { std::nullopt, 2 }));
    ScriptedServer redeemed(200,
        R"({"invite_id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","confirm_expires_at":7,)"
        R"("history":{"conversation_count":0}})");
    EXPECT_EQ(await(clientFor(redeemed).redeemPairingInvite("abcd efgh-jk"))
                  .value_or(PairingRedemption {})
                  .inviteID,
        inviteID);
    ScriptedServer issued(
        200, R"({"invite_id":"6f9619ff-8b86-d011-b42d-00c04fc964ff","code":"X","expires_at":9})");
    EXPECT_EQ(await(clientFor(issued).createPairingInvite("v")), (PairingInvite { inviteID, "X", 9 }));
    ScriptedServer okFalse(200, R"({"ok":false})");
    EXPECT_TRUE(await(clientFor(okFalse).unlinkPairing()));
    ScriptedServer noWorkspaces(200, R"({"workspace":{"workspace_id":"w","paired":false,"member_count":1}})");
    EXPECT_TRUE(isDecodeError(await(clientFor(noWorkspaces).pairingState())));

    struct Sent {
        const ScriptedServer& server;
        QByteArray method, target, body;
    };
    // The code goes out exactly as given; normalising it is the caller's business.
    const Sent sent[] = {
        { confirmed, "POST", "/v1/pairing/invites/confirm",
            R"({"invite_id":"6f9619ff-8b86-d011-b42d-00c04fc964ff","policy_version":"pairing-2026-08-18"})" },
        { redeemed, "POST", "/v1/pairing/invites/redeem", R"({"code":"abcd efgh-jk"})" },
        { issued, "POST", "/v1/pairing/invites", R"({"policy_version":"v"})" },
        { okFalse, "POST", "/v1/pairing/unlink", "" },
        { noWorkspaces, "GET", "/v1/pairing/state", "" },
    };
    for (const Sent& row : sent) {
        ASSERT_EQ(row.server.requests().size(), 1) << row.target.toStdString();
        const auto& request = row.server.requests()[0];
        EXPECT_EQ(request.method, row.method);
        EXPECT_EQ(request.target, row.target);
        EXPECT_EQ(request.body, row.body);
    }
}

TEST_F(PairingClientRepliesTest, RepliesNeedTheControlPlanesKeys)
{
    ScriptedServer empty(200, "{}");
    EXPECT_TRUE(isDecodeError(await(clientFor(empty).unlinkPairing())));
    ScriptedServer none(200,
        R"({"workspace":{"workspace_id":"w","paired":false,"member_count":1},"pending_invite":null,)"
        R"("previous_workspaces":[]})");
    const auto state = await(clientFor(none).pairingState());
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->workspace, (PairingWorkspace { "w", false, 1, {}, {} }));
    EXPECT_FALSE(state->pendingInvite.has_value());
    // A reply in field names rather than the control plane's keys is not read.
    ScriptedServer converted(200, R"({"inviteID":"6f9619ff-8b86-d011-b42d-00c04fc964ff","memberCount":2})");
    EXPECT_TRUE(isDecodeError(await(clientFor(converted).confirmPairingInvite(QUuid::createUuid(), "v"))));
}

} // namespace
} // namespace lumora
