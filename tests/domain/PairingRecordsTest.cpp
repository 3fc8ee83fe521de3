#include "domain/JsonObjectReader.hpp"
#include "domain/PairingConfirmation.hpp"
#include "domain/PairingInvite.hpp"
#include "domain/PairingRedemption.hpp"
#include "domain/PairingState.hpp"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <limits>

using namespace lumora;

namespace {

QJsonObject object(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

const QUuid inviteID = QUuid::fromString(u"5c6f2b1e-8d3a-4f7e-9b21-0a4c3d2e1f00");

// A state reply with every key the control plane can send.
const QByteArray fullState = R"({
    "workspace": {"workspace_id": "ws_42", "paired": false, "member_count": 1},
    "pending_invite": {"invite_id": "5c6f2b1e-8d3a-4f7e-9b21-0a4c3d2e1f00", "status": "pending_confirmation",
                       "expires_at": 1800000000, "confirm_expires_at": 1800000600},
    "pending_confirmation": {"invite_id": "5C6F2B1E-8D3A-4F7E-9B21-0A4C3D2E1F00", "confirm_expires_at": 1800000900,
                             "history": {"conversation_count": 3, "earliest_started_at": 1700000000,
                                         "latest_started_at": 1790000000}},
    "previous_workspaces": [
        {"workspace_id": "a", "linked_at": 1600000000, "unlinked_at": 1650000000, "member_count": 2,
         "conversation_count": 7},
        {"workspace_id": "b", "linked_at": 1660000000, "member_count": 1, "conversation_count": 5}],
    "server_note": "ignored"
})";

} // namespace

TEST(PairingRecords, StateDecodesEveryField)
{
    auto state = decodeJson<PairingState>(fullState);
    ASSERT_TRUE(state.has_value()) << state.error().message.toStdString();

    EXPECT_EQ(state->workspace, (PairingWorkspace { "ws_42", false, 1, std::nullopt, std::nullopt }));
    EXPECT_EQ(state->pendingInvite,
        (PairingPendingInvite { inviteID, "pending_confirmation", 1800000000, 1800000600 }));
    EXPECT_TRUE(state->pendingInvite->isBeingConsidered());
    const PairingHistorySummary history { 3, 1700000000, 1790000000 };
    EXPECT_EQ(state->pendingConfirmation, (PairingPendingConfirmation { inviteID, 1800000900, history }));
    ASSERT_EQ(state->previousWorkspaces.size(), 2);
    EXPECT_EQ(state->previousWorkspaces[0], (PairingPreviousWorkspace { "a", 1600000000, 1650000000, 2, 7 }));
    EXPECT_EQ(
        state->previousWorkspaces[1], (PairingPreviousWorkspace { "b", 1660000000, std::nullopt, 1, 5 }));
    EXPECT_TRUE(state->previousWorkspaces[0].wasShared());
    EXPECT_EQ(state->conversationsInPreviousWorkspaces(), 12);
    EXPECT_EQ(history.earliest(), QDateTime(QDate(2023, 11, 14), QTime(22, 13, 20), Qt::UTC));
}

TEST(PairingRecords, StateOptionalAndRequiredParts)
{
    const QByteArray workspace = R"("workspace": {"workspace_id": "w", "paired": true, "member_count": 2})";
    struct Case {
        const char* name;
        QByteArray json;
        bool decodes;
    };
    for (const Case& c : {
             Case { "previous workspaces missing", "{" + workspace + "}", false },
             Case { "previous workspaces empty", "{" + workspace + R"(, "previous_workspaces": []})", true },
             Case { "pending items null",
                 "{" + workspace + R"(, "pending_invite": null, "pending_confirmation": null,
                                      "previous_workspaces": []})",
                 true },
             Case { "workspace missing", R"({"previous_workspaces": []})", false },
             Case { "previous workspaces not a list", "{" + workspace + R"(, "previous_workspaces": {}})",
                 false },
             Case { "broken previous workspace",
                 "{" + workspace + R"(, "previous_workspaces": [{"workspace_id": "x", "member_count": 1,
                                      "conversation_count": 0}]})",
                 false },
             Case { "broken history inside a pending confirmation",
                 "{" + workspace
                     + R"(, "pending_confirmation": {"invite_id": "5c6f2b1e-8d3a-4f7e-9b21-0a4c3d2e1f00",
                      "confirm_expires_at": 1, "history": {"conversation_count": "3"}}, "previous_workspaces": []})",
                 false },
         }) {
        SCOPED_TRACE(c.name);
        auto state = decodeJson<PairingState>(c.json);
        ASSERT_EQ(state.has_value(), c.decodes);
        if (state) {
            EXPECT_EQ(state->pendingInvite, std::nullopt);
            EXPECT_EQ(state->pendingConfirmation, std::nullopt);
            EXPECT_TRUE(state->previousWorkspaces.isEmpty());
            EXPECT_EQ(state->conversationsInPreviousWorkspaces(), 0);
        }
    }
}

TEST(PairingRecords, IdentitiesAndTimesAreChecked)
{
    struct Case {
        const char* id;
        const char* expiresAt;
        bool decodes;
    };
    for (const Case& c : {
             Case { "\"5c6f2b1e-8d3a-4f7e-9b21-0a4c3d2e1f00\"", "9", true },
             Case { "\"{5c6f2b1e-8d3a-4f7e-9b21-0a4c3d2e1f00}\"", "9", false },
             Case { "\"invite-1\"", "9", false },
             Case { "\"5c6f2b1e-8d3a-4f7e-9b21-0a4c3d2e1f00\"", "9.5", false },
             Case { "\"5c6f2b1e-8d3a-4f7e-9b21-0a4c3d2e1f00\"", "\"9\"", false },
         }) {
        SCOPED_TRACE(std::string(c.id) + " " + c.expiresAt);
        const auto invite = PairingInvite::fromJson(object(
            QByteArray(R"({"code": "c", "invite_id": )") + c.id + R"(, "expires_at": )" + c.expiresAt + "}"));
        EXPECT_EQ(invite.has_value(), c.decodes);
        if (invite) {
            EXPECT_EQ(*invite, (PairingInvite { inviteID, "c", 9 }));
        }
    }
    EXPECT_FALSE(PairingInvite::fromJson(
        object(R"({"invite_id": "5c6f2b1e-8d3a-4f7e-9b21-0a4c3d2e1f00", "expires_at": 9})")));

    // The workspace identity is opaque text, whatever it looks like.
    auto workspace = PairingWorkspace::fromJson(object(R"({"workspace_id": "not a uuid", "paired": true,
        "member_count": 2, "linked_at": 1700000000, "partner_joined_at": null})"));
    ASSERT_TRUE(workspace.has_value());
    EXPECT_EQ(workspace->workspaceID, "not a uuid");
    EXPECT_FALSE(
        PairingWorkspace::fromJson(object(R"({"workspace_id": "w", "paired": 1, "member_count": 2})")));
}

TEST(PairingRecords, SmallerRepliesAndTheirRequiredKeys)
{
    auto summary = PairingHistorySummary::fromJson(object(R"({"conversation_count": 0})"));
    ASSERT_TRUE(summary.has_value());
    EXPECT_EQ(*summary, (PairingHistorySummary { 0, std::nullopt, std::nullopt }));
    EXPECT_EQ(summary->earliest(), std::nullopt);
    EXPECT_FALSE(PairingHistorySummary::fromJson(object(R"({"earliest_started_at": 1})")));

    const QByteArray body
        = R"({"invite_id": "5c6f2b1e-8d3a-4f7e-9b21-0a4c3d2e1f00", "confirm_expires_at": 1800000900,
        "history": {"conversation_count": 2, "latest_started_at": 1790000000}})";
    auto redemption = decodeJson<PairingRedemption>(body);
    auto pending = decodeJson<PairingPendingConfirmation>(body);
    ASSERT_TRUE(redemption.has_value());
    ASSERT_TRUE(pending.has_value());
    EXPECT_EQ(pending->redemption(), *redemption);
    EXPECT_FALSE(decodeJson<PairingRedemption>(R"({"invite_id": "5c6f2b1e-8d3a-4f7e-9b21-0a4c3d2e1f00",
        "confirm_expires_at": 1})"));

    EXPECT_EQ(
        decodeJson<PairingConfirmation>(R"({"member_count": 2})"), (PairingConfirmation { std::nullopt, 2 }));
    EXPECT_FALSE(decodeJson<PairingConfirmation>(R"({"linked_at": 1700000000})"));
    EXPECT_FALSE(decodeJson<PairingConfirmation>(R"({"linked_at": "yesterday", "member_count": 2})"));
}

TEST(PairingRecords, StatusMembersAndTotalsAtTheirLimits)
{
    for (const char* status :
        { "PENDING_CONFIRMATION", "Pending_confirmation", "pending", "", "pending_confirmation " }) {
        SCOPED_TRACE(status);
        EXPECT_FALSE((PairingPendingInvite { inviteID, status, 0, std::nullopt }).isBeingConsidered());
    }
    for (qint64 members : { -1, 1 })
        EXPECT_FALSE((PairingPreviousWorkspace { "w", 0, std::nullopt, members, 0 }).wasShared()) << members;

    constexpr qint64 most = std::numeric_limits<qint64>::max();
    constexpr qint64 least = std::numeric_limits<qint64>::min();
    auto stateWith = [](std::initializer_list<qint64> counts) {
        PairingState state;
        for (qint64 count : counts)
            state.previousWorkspaces.append({ "w", 0, std::nullopt, 1, count });
        return state;
    };
    EXPECT_EQ(stateWith({ most, 1 }).conversationsInPreviousWorkspaces(), most);
    EXPECT_EQ(stateWith({ least, -1 }).conversationsInPreviousWorkspaces(), least);
}
