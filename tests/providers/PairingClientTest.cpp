#include "RealControlPlaneFixture.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "domain/JsonWriting.hpp"
#include "domain/PairingCode.hpp"
#include "domain/PairingErrorPolicy.hpp"
#include "domain/PairingPolicy.hpp"
#include "domain/PairingStateMachine.hpp"

#include <map>

namespace lumora {
namespace {

using testing::failureOf;

const QString policy = PairingPolicy::version.toString();

// One signed-in account of the development sign-in, with its own computer.
struct Partner {
    DeviceRegistration registration;
    std::unique_ptr<ControlPlaneClient> client;

    PairingState state() const
    {
        auto state = test::awaitTask(client->pairingState());
        EXPECT_TRUE(state.has_value());
        return state.value_or(PairingState {});
    }
};

class PairingClientTest : public testing::RealControlPlaneFixture {
protected:
    Partner partner(const QString& name)
    {
        const DeviceIdentity device = testing::newIdentity();
        Partner signedIn { signIn(device, name), nullptr };
        signedIn.client
            = std::make_unique<ControlPlaneClient>(base, signedIn.registration.deviceID, device, manager);
        return signedIn;
    }
};

// One refused call: the refusal it should be and what the pairing service makes of it.
struct Refusal {
    const char* name;
    ControlPlaneFailure got;
    int status;
    const char* code;
    PairingFailure failure;
};

void expectRefusals(const std::vector<Refusal>& rows)
{
    for (const Refusal& row : rows) {
        EXPECT_EQ(row.got, ControlPlaneFailure(ControlPlaneError::rejectedWithCode(row.status, row.code)))
            << row.name;
        const auto* refusal = std::get_if<ControlPlaneError>(&row.got);
        EXPECT_EQ(refusal ? PairingErrorPolicy::failure(*refusal) : PairingFailure::offline, row.failure)
            << row.name;
    }
}

TEST_F(PairingClientTest, TwoAccountsLinkShareOneWorkspaceAndUnlink)
{
    const Partner ada = partner("Ada");
    const Partner bob = partner("Bob");
    const PairingState alone = ada.state();
    EXPECT_EQ(alone.workspace,
        (PairingWorkspace { uuidText(ada.registration.accountID, UuidCase::lower), false, 1, {}, {} }));

    const auto invite = test::awaitTask(ada.client->createPairingInvite(policy));
    ASSERT_TRUE(invite.has_value());
    EXPECT_EQ(PairingCode::normalize(invite->code), invite->code);
    const auto issued = ada.state().pendingInvite.value_or(PairingPendingInvite {});
    EXPECT_EQ(issued.inviteID, invite->inviteID);
    EXPECT_EQ(issued.status, "open");

    // Typed by hand: lower case, in groups.
    const auto redemption
        = test::awaitTask(bob.client->redeemPairingInvite(PairingCode::formatted(invite->code).toLower()));
    ASSERT_TRUE(redemption.has_value());
    const auto deciding = bob.state().pendingConfirmation;
    EXPECT_TRUE(deciding.has_value() && deciding->redemption() == *redemption);
    EXPECT_TRUE(ada.state().pendingInvite.value_or(PairingPendingInvite {}).isBeingConsidered());

    const auto confirmation = test::awaitTask(bob.client->confirmPairingInvite(invite->inviteID, policy));
    ASSERT_TRUE(confirmation.has_value() && confirmation->linkedAt.has_value());
    EXPECT_EQ(confirmation->memberCount, 2);
    const PairingState linked = ada.state();
    EXPECT_EQ(PairingStateMachine::stage(linked).kind(), PairingStage::Kind::paired);
    EXPECT_EQ(linked.workspace.workspaceID, bob.state().workspace.workspaceID);
    EXPECT_EQ(linked.workspace.linkedAt, confirmation->linkedAt);
    EXPECT_EQ(bob.state().workspace.partnerJoinedAt, confirmation->linkedAt);

    EXPECT_TRUE(test::awaitTask(bob.client->unlinkPairing()));
    for (const Partner* member : { &ada, &bob }) {
        const PairingState after = member->state();
        EXPECT_EQ(PairingStateMachine::stage(after), PairingStage::unpaired());
        // Bob joined Ada's workspace, and left his own for it.
        ASSERT_EQ(after.previousWorkspaces.size(), member == &bob ? 2 : 1);
        if (member == &bob) {
            EXPECT_FALSE(after.previousWorkspaces.front().wasShared());
        }
        EXPECT_EQ(after.previousWorkspaces.back().workspaceID, linked.workspace.workspaceID);
        EXPECT_TRUE(after.previousWorkspaces.back().wasShared());
        EXPECT_TRUE(after.previousWorkspaces.back().unlinkedAt.has_value());
    }
}

// What the joining partner is shown before confirming is what it then shares: the inviter's
// conversations are the shared history, read by both as current; the joiner's own earlier ones
// stay its own, read only, and are what the pairing state counts as earlier history.
TEST_F(PairingClientTest, TheJoinerSharesTheInvitersHistoryAndKeepsItsOwnAsEarlier)
{
    const Partner ada = partner("Ada");
    const Partner bob = partner("Bob");
    const auto store = [](const Partner& from, qint64 endedAt) {
        ConversationUploadPayload payload;
        payload.conversationID = QUuid::createUuid();
        payload.startedAt = endedAt - 60;
        payload.endedAt = endedAt;
        payload.durationSeconds = 60;
        payload.transcript.segments = { SpeakerTurn(0, 0, 5, QStringLiteral("Hello")) };
        payload.analysis = ConversationAnalysisPayload { 1, QStringLiteral("Calm"), {}, {}, {}, false };
        const QByteArray body = ConversationUploadCodec::body(payload).value_or(QByteArray());
        EXPECT_TRUE(test::awaitTask(from.client->storeConversation(body)).has_value());
        return payload.conversationID;
    };
    const auto scopes = [](const Partner& of) {
        std::map<QUuid, ConversationWorkspaceScope> seen;
        const auto page = test::awaitTask(of.client->conversationPage(100, std::nullopt));
        EXPECT_TRUE(page.has_value());
        for (const auto& row : page.value_or(ConversationPage {}).conversations)
            seen.emplace(row.id, row.workspace);
        return seen;
    };
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QList<QUuid> adas;
    for (const qint64 daysAgo : { 30, 20, 10 })
        adas.append(store(ada, now - daysAgo * 86400));
    const QList<QUuid> bobs { store(bob, now - 15 * 86400), store(bob, now - 5 * 86400) };

    const auto invite = test::awaitTask(ada.client->createPairingInvite(policy));
    ASSERT_TRUE(invite.has_value());
    const auto redemption = test::awaitTask(bob.client->redeemPairingInvite(invite->code));
    ASSERT_TRUE(redemption.has_value());
    EXPECT_EQ(redemption->history.conversationCount, 3);
    EXPECT_EQ(redemption->history.earliestStartedAt, now - 30 * 86400 - 60);
    ASSERT_TRUE(test::awaitTask(bob.client->confirmPairingInvite(invite->inviteID, policy)).has_value());

    const auto current = ConversationWorkspaceScope::current;
    const auto previous = ConversationWorkspaceScope::previous;
    const std::map<QUuid, ConversationWorkspaceScope> bobSees { { adas[0], current }, { adas[1], current },
        { adas[2], current }, { bobs[0], previous }, { bobs[1], previous } };
    EXPECT_EQ(scopes(bob), bobSees);
    const std::map<QUuid, ConversationWorkspaceScope> adaSees { { adas[0], current }, { adas[1], current },
        { adas[2], current } };
    EXPECT_EQ(scopes(ada), adaSees);
    EXPECT_EQ(bob.state().conversationsInPreviousWorkspaces(), 2);
    EXPECT_TRUE(ada.state().previousWorkspaces.isEmpty());
    EXPECT_EQ(test::awaitTask(bob.client->conversation(adas[0])).has_value(), true);

    // New conversations of either partner go to the shared history.
    const QUuid together = store(bob, now);
    EXPECT_EQ(scopes(ada).at(together), current);
    EXPECT_EQ(scopes(bob).at(together), current);
}

TEST_F(PairingClientTest, EveryRefusalReachesTheCallerAsItsPairingFailure)
{
    const Partner ada = partner("Ada");
    const Partner bob = partner("Bob");
    const Partner carol = partner("Carol");

    const auto own = test::awaitTask(ada.client->createPairingInvite(policy));
    ASSERT_TRUE(own.has_value());
    const auto ownCode = failureOf(test::awaitTask(ada.client->redeemPairingInvite(own->code)));
    const auto unknown = failureOf(test::awaitTask(bob.client->redeemPairingInvite("0000-0000-0000")));
    const auto malformed = failureOf(test::awaitTask(bob.client->redeemPairingInvite("UUUU-0000-0000")));
    const auto notPaired = failureOf(test::awaitTask(bob.client->unlinkPairing()));
    const auto nothingToConfirm
        = failureOf(test::awaitTask(carol.client->confirmPairingInvite(own->inviteID, policy)));

    // A newer code replaces the first one.
    const auto invite = test::awaitTask(ada.client->createPairingInvite(policy));
    ASSERT_TRUE(invite.has_value());
    const auto replaced = failureOf(test::awaitTask(carol.client->redeemPairingInvite(own->code)));
    ASSERT_TRUE(test::awaitTask(bob.client->redeemPairingInvite(invite->code)));
    const auto redeemedByOther = failureOf(test::awaitTask(carol.client->redeemPairingInvite(invite->code)));
    const auto othersConfirmation
        = failureOf(test::awaitTask(carol.client->confirmPairingInvite(invite->inviteID, policy)));
    ASSERT_TRUE(test::awaitTask(bob.client->confirmPairingInvite(invite->inviteID, policy)));
    const auto replayed
        = failureOf(test::awaitTask(bob.client->confirmPairingInvite(invite->inviteID, policy)));
    const auto usedUp = failureOf(test::awaitTask(carol.client->redeemPairingInvite(invite->code)));
    const auto inviteWhilePaired = failureOf(test::awaitTask(ada.client->createPairingInvite(policy)));
    const auto carolInvite = test::awaitTask(carol.client->createPairingInvite(policy));
    ASSERT_TRUE(carolInvite.has_value());
    const auto redeemWhilePaired
        = failureOf(test::awaitTask(bob.client->redeemPairingInvite(carolInvite->code)));
    const auto unknownPolicy
        = failureOf(test::awaitTask(carol.client->createPairingInvite("pairing-1999-01-01")));
    // A burst of wrong codes locks redeeming for a while, the right code included.
    const Partner dave = partner("Dave");
    for (int attempt = 0; attempt < 10; ++attempt)
        EXPECT_FALSE(test::awaitTask(dave.client->redeemPairingInvite("0000-0000-0000")));
    const auto guessing = failureOf(test::awaitTask(dave.client->redeemPairingInvite(carolInvite->code)));

    expectRefusals({
        { "own code", ownCode, 409, "pairing_own_invite", PairingFailure::ownCode },
        { "unknown code", unknown, 404, "pairing_invite_not_found", PairingFailure::codeNotRecognized },
        { "not a code", malformed, 422, "pairing_code_invalid", PairingFailure::codeNotRecognized },
        { "unlink alone", notPaired, 409, "not_paired", PairingFailure::notPaired },
        { "confirm unredeemed", nothingToConfirm, 404, "pairing_confirmation_not_found",
            PairingFailure::confirmationNotFound },
        { "replaced code", replaced, 409, "pairing_invite_unavailable", PairingFailure::codeAlreadyUsed },
        { "redeemed by another", redeemedByOther, 409, "pairing_invite_already_redeemed",
            PairingFailure::codeAlreadyUsed },
        { "confirm another's redemption", othersConfirmation, 404, "pairing_confirmation_not_found",
            PairingFailure::confirmationNotFound },
        { "confirmed twice", replayed, 409, "pairing_confirmation_replayed",
            PairingFailure::codeAlreadyUsed },
        { "used code", usedUp, 409, "pairing_invite_unavailable", PairingFailure::codeAlreadyUsed },
        { "invite while paired", inviteWhilePaired, 409, "already_paired", PairingFailure::alreadyPaired },
        { "redeem while paired", redeemWhilePaired, 409, "already_paired", PairingFailure::alreadyPaired },
        { "unknown policy", unknownPolicy, 422, "pairing_policy_unsupported", PairingFailure::unavailable },
        { "too many wrong codes", guessing, 429, "too_many_attempts", PairingFailure::unavailable },
    });
}

// A server on which a redeemed code can no longer be confirmed.
class ImpatientPairingClientTest : public PairingClientTest {
protected:
    QStringList extraServerArguments() const override { return { "--pairing-confirm-window", "0" }; }
};

TEST_F(ImpatientPairingClientTest, LateConfirmationIsRefused)
{
    const Partner ada = partner("Ada");
    const Partner bob = partner("Bob");
    const auto invite = test::awaitTask(ada.client->createPairingInvite(policy));
    ASSERT_TRUE(invite.has_value());
    ASSERT_TRUE(test::awaitTask(bob.client->redeemPairingInvite(invite->code)));
    expectRefusals({ { "confirmed too late",
        failureOf(test::awaitTask(bob.client->confirmPairingInvite(invite->inviteID, policy))), 410,
        "pairing_confirmation_expired", PairingFailure::confirmationExpired } });
    EXPECT_EQ(PairingStateMachine::stage(bob.state()), PairingStage::unpaired());
}

// Requests and replies of the pairing calls that the real control plane never sends.
using PairingClientRepliesTest = testing::ScriptedClientTest;

TEST_F(PairingClientRepliesTest, RequestsCarryTheGivenValuesAndRepliesNeedTheControlPlanesKeys)
{
    using testing::isDecodeError;
    using testing::ScriptedServer;
    const QUuid inviteID = QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
    ScriptedServer confirmed(200, R"({"member_count":2})");
    EXPECT_EQ(test::awaitTask(clientFor(confirmed).confirmPairingInvite(inviteID, "pairing-2026-08-18")),
        (PairingConfirmation { std::nullopt, 2 }));
    ScriptedServer redeemed(200,
        R"({"invite_id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","confirm_expires_at":7,)"
        R"("history":{"conversation_count":0}})");
    EXPECT_TRUE(test::awaitTask(clientFor(redeemed).redeemPairingInvite("abcd efgh-jk")));
    ScriptedServer okFalse(200, R"({"ok":false})");
    EXPECT_TRUE(test::awaitTask(clientFor(okFalse).unlinkPairing()));
    ScriptedServer noWorkspaces(200, R"({"workspace":{"workspace_id":"w","paired":false,"member_count":1}})");
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(noWorkspaces).pairingState())));
    // The invite id in lower case; the code exactly as given, normalising it is the caller's business.
    const std::tuple<const ScriptedServer&, QByteArray, QByteArray, QByteArray> sent[] = {
        { confirmed, "POST", "/v1/pairing/invites/confirm",
            R"({"invite_id":"6f9619ff-8b86-d011-b42d-00c04fc964ff","policy_version":"pairing-2026-08-18"})" },
        { redeemed, "POST", "/v1/pairing/invites/redeem", R"({"code":"abcd efgh-jk"})" },
        { okFalse, "POST", "/v1/pairing/unlink", "" },
        { noWorkspaces, "GET", "/v1/pairing/state", "" },
    };
    for (const auto& [server, method, target, body] : sent) {
        const auto request = server.requests().value(0);
        EXPECT_EQ(
            request.method + " " + request.target + " " + request.body, method + " " + target + " " + body);
    }

    ScriptedServer empty(200, "{}");
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(empty).unlinkPairing())));
    // A reply in field names rather than the control plane's keys is not read.
    ScriptedServer converted(200, R"({"inviteID":"6f9619ff-8b86-d011-b42d-00c04fc964ff","memberCount":2})");
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(converted).confirmPairingInvite(inviteID, "v"))));
}

} // namespace
} // namespace lumora
