#include "ViewModelFixture.hpp"
#include "appcore/CheckinService.hpp"
#include "appcore/PairingService.hpp"
#include "domain/CheckinBundledPack.hpp"
#include "domain/PairingPolicy.hpp"
#include "providers/CheckinPackClient.hpp"
#include "providers/PairingClient.hpp"

#include <QNetworkReply>

namespace lumora {
namespace {

using testing::Gate;
using testing::settle;
using testing::ViewModelHome;

// A control plane for pairing that answers from the test's script: every step with
// `failure` when set, and the state with `state` (or `stateFailure`). Calls are noted by
// name; steps wait at `gate` when it is closed.
class ScriptedPairingClient final : public PairingClient {
public:
    mutable QStringList calls;
    std::optional<ControlPlaneFailure> failure;
    std::optional<ControlPlaneFailure> stateFailure;
    PairingState state;
    PairingInvite invite { QUuid::createUuid(), QStringLiteral("7K3M9Q2W4X8Z"), 1900000000 };
    PairingRedemption redemption { QUuid::createUuid(), 1900000600, {} };
    mutable Gate gate;

    QCoro::Task<std::expected<PairingInvite, ControlPlaneFailure>> createPairingInvite(QString) const override
    {
        return step<PairingInvite>(QStringLiteral("invite"), invite);
    }
    QCoro::Task<std::expected<PairingRedemption, ControlPlaneFailure>> redeemPairingInvite(
        QString code) const override
    {
        return step<PairingRedemption>(QStringLiteral("redeem ") + code, redemption);
    }
    QCoro::Task<std::expected<PairingConfirmation, ControlPlaneFailure>> confirmPairingInvite(
        QUuid inviteID, QString) const override
    {
        return step<PairingConfirmation>(QStringLiteral("confirm ") + inviteID.toString(QUuid::WithoutBraces),
            PairingConfirmation { 1, 2 });
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> unlinkPairing() const override
    {
        calls.append(QStringLiteral("unlink"));
        co_await gate.pass();
        if (failure)
            co_return std::unexpected(*failure);
        co_return std::expected<void, ControlPlaneFailure> {};
    }
    QCoro::Task<std::expected<PairingState, ControlPlaneFailure>> pairingState() const override
    {
        calls.append(QStringLiteral("state"));
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        if (stateFailure)
            co_return std::unexpected(*stateFailure);
        co_return state;
    }

private:
    template <typename T>
    QCoro::Task<std::expected<T, ControlPlaneFailure>> step(QString name, T answer) const
    {
        calls.append(name);
        co_await gate.pass();
        if (failure)
            co_return std::unexpected(*failure);
        co_return answer;
    }
};

struct PairingHome : ViewModelHome {
    PairingHome()
    {
        model = viewModel();
        model->adoptServices(
            { nullptr, nullptr, PairingService::create(client, PairingPolicy::version.toString()), nullptr });
    }

    std::shared_ptr<ScriptedPairingClient> client = std::make_shared<ScriptedPairingClient>();
    std::unique_ptr<SessionViewModel> model;
};

TEST(SessionViewModelPairing, EveryFailureReachesPairingErrorAsItsSentence)
{
    const struct {
        ControlPlaneFailure failure;
        const char* sentence;
    } cases[] {
        { ControlPlaneError::rejected(404),
            "That code was not recognized. Check it, or ask your partner for a new one." },
        { ControlPlaneError::rejectedWithCode(403, "pairing_own_invite"),
            "That is your own code. Ask your partner for theirs." },
        { ControlPlaneError::rejected(409),
            "You already have a partner. Corvane links one partner at a time, so unlink first." },
        { ControlPlaneError::rejectedWithCode(409, "pairing_invite_already_redeemed"),
            "That code has already been used. Ask your partner for a new one." },
        { ControlPlaneError::rejected(410),
            "That took a little too long. Ask your partner for a new code and try again." },
        { ControlPlaneError::rejectedWithCode(404, "pairing_confirmation_not_found"),
            "There is nothing to confirm. Enter your partner's code again." },
        { ControlPlaneError::rejectedWithCode(409, "not_paired"),
            "You do not have a partner to unlink from." },
        { TransportError { QNetworkReply::ConnectionRefusedError, "refused" },
            "Corvane could not reach your account. Check your connection and try again." },
        { ControlPlaneError::rejected(500), "That could not be completed just now. Please try again." },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.sentence);
        PairingHome home;
        home.client->failure = row.failure;
        test::awaitTask(home.model->redeemPairingCode(QStringLiteral("7k3m-9q2w-4x8z")));
        EXPECT_EQ(home.model->pairingError(), QString::fromUtf8(row.sentence));
        EXPECT_EQ(home.client->calls, (QStringList { "redeem 7K3M9Q2W4X8Z", "state" }));
        EXPECT_FALSE(home.model->isPairingBusy());
        EXPECT_EQ(home.model->pairingRedemption(), std::nullopt);
        EXPECT_EQ(home.model->pairing(), home.client->state);
    }
}

TEST(SessionViewModelPairing, AMalformedCodeIsRefusedWithoutARequestAndTheStateIsStillRead)
{
    PairingHome home;
    test::awaitTask(home.model->redeemPairingCode(QStringLiteral("7K3M-9Q2W")));
    EXPECT_EQ(home.model->pairingError(),
        "That code was not recognized. Check it, or ask your partner for a new one.");
    EXPECT_EQ(home.client->calls, QStringList { "state" });
    EXPECT_FALSE(home.model->isPairingBusy());
}

TEST(SessionViewModelPairing, WithoutAConnectionAStepSaysSoAndStaysIdle)
{
    ViewModelHome home;
    const auto model = home.viewModel();
    test::awaitTask(model->createPairingInvite());
    EXPECT_EQ(model->pairingError(), "Corvane is not connected to your account right now.");
    EXPECT_FALSE(model->isPairingBusy());
}

TEST(SessionViewModelPairing, ASecondPressWhileAStepRunsStartsNothing)
{
    PairingHome home;
    home.client->gate.close();
    home.client->state.pendingInvite
        = PairingPendingInvite { home.client->invite.inviteID, "pending", 1, {} };
    home.model->setPairingRedemption(home.client->redemption);

    home.model->requestPairingInvite();
    ASSERT_TRUE(home.model->isPairingBusy());
    home.model->requestPairingInvite();
    home.model->requestPairingRedemption(QStringLiteral("7K3M9Q2W4X8Z"));
    home.model->requestUnlink();
    // A confirmation pressed meanwhile starts no step, but still synchronises the history.
    home.model->requestPairingConfirmation();
    home.client->gate.open();
    settle(*home.model);

    EXPECT_EQ(home.client->calls, (QStringList { "invite", "state" }));
    EXPECT_EQ(home.model->pairingInvite(), home.client->invite);
    EXPECT_EQ(home.model->pairing(), home.client->state);
    EXPECT_FALSE(home.model->isPairingBusy());
    EXPECT_EQ(home.model->pairingError(), std::nullopt);
}

TEST(SessionViewModelPairing, ConfirmingClearsRedemptionAndInviteAndNeedsARedemption)
{
    PairingHome home;
    test::awaitTask(home.model->confirmPairing());
    EXPECT_TRUE(home.client->calls.isEmpty());

    home.model->setPairingInvite(home.client->invite);
    home.model->setPairingRedemption(home.client->redemption);
    home.client->state.workspace.paired = true;
    test::awaitTask(home.model->confirmPairing());
    EXPECT_EQ(home.client->calls,
        (QStringList {
            "confirm " + home.client->redemption.inviteID.toString(QUuid::WithoutBraces), "state" }));
    EXPECT_EQ(home.model->pairingRedemption(), std::nullopt);
    EXPECT_EQ(home.model->pairingInvite(), std::nullopt);
    EXPECT_TRUE(home.model->pairing()->workspace.paired);
}

TEST(SessionViewModelPairing, ClearingWhileAStepRunsKeepsItsResultOutAndBusyUntilItEnds)
{
    PairingHome home;
    home.client->gate.close();
    home.model->requestPairingInvite();
    home.model->clearPairing();
    EXPECT_TRUE(home.model->isPairingBusy());
    home.client->gate.open();
    settle(*home.model);
    EXPECT_FALSE(home.model->isPairingBusy());
    EXPECT_EQ(home.model->pairingInvite(), std::nullopt);
    EXPECT_EQ(home.model->pairing(), std::nullopt);
    EXPECT_EQ(home.client->calls, QStringList { "invite" });
}

TEST(SessionViewModelPairing, RefreshPublishesTheStateItRead)
{
    const PairingRedemption shown { QUuid::createUuid(), 1900000100, {} };
    const PairingPendingConfirmation pending { QUuid::createUuid(), 1900000200, {} };
    const PairingPendingInvite outstanding { QUuid::createUuid(), "pending", 1900000300, {} };
    const struct {
        const char* name;
        std::optional<PairingPendingInvite> pendingInvite;
        std::optional<PairingPendingConfirmation> pendingConfirmation;
        bool paired;
        bool fails;
        bool inviteKept;
        std::optional<PairingRedemption> redemption;
    } cases[] {
        { "no pending invite clears the code on screen", {}, {}, false, false, false, shown },
        { "an outstanding invite keeps it", outstanding, {}, false, false, true, shown },
        { "a pending confirmation replaces the redemption", {}, pending, false, false, false,
            pending.redemption() },
        { "a paired workspace clears the redemption", {}, {}, true, false, false, std::nullopt },
        { "a failed read changes nothing", {}, {}, true, true, true, shown },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        PairingHome home;
        home.model->setPairingInvite(home.client->invite);
        home.model->setPairingRedemption(shown);
        home.client->state.pendingInvite = row.pendingInvite;
        home.client->state.pendingConfirmation = row.pendingConfirmation;
        home.client->state.workspace.paired = row.paired;
        if (row.fails)
            home.client->stateFailure = ControlPlaneError::rejected(503);
        test::awaitTask(home.model->refreshPairingState());
        EXPECT_EQ(home.model->pairing(), row.fails ? std::nullopt : std::optional(home.client->state));
        EXPECT_EQ(home.model->pairingInvite().has_value(), row.inviteKept);
        EXPECT_EQ(home.model->pairingRedemption(), row.redemption);
        EXPECT_EQ(home.model->pairingError(), std::nullopt);
    }
}

class GatedCheckinPackClient final : public CheckinPackClient {
public:
    GatedCheckinPackClient() { gate.close(); }

    mutable int requests = 0;
    mutable Gate gate;

    QCoro::Task<std::expected<CheckinPack, ControlPlaneFailure>> checkinPack() const override
    {
        ++requests;
        co_await gate.pass();
        co_return std::unexpected(ControlPlaneFailure(ControlPlaneError::rejected(503)));
    }
};

TEST(SessionViewModelCheckin, ASecondPressWhileThePackLoadsStartsNothing)
{
    ViewModelHome home;
    home.now = QDateTime(QDate(2026, 3, 24), QTime(9, 0), Qt::UTC);
    const auto model = home.viewModel();
    const auto client = std::make_shared<GatedCheckinPackClient>();
    model->adoptServices({ nullptr, nullptr, nullptr, CheckinService::create(client) });
    model->setErrorMessage(QStringLiteral("Earlier failure"));

    model->requestCheckin();
    EXPECT_TRUE(model->isCheckinOpening());
    EXPECT_EQ(model->errorMessage(), std::nullopt);
    model->requestCheckin();
    client->gate.open();
    settle(*model);

    EXPECT_EQ(client->requests, 1);
    EXPECT_EQ(model->checkinPack(), CheckinBundledPack::pack(home.now));
    EXPECT_FALSE(model->isCheckinOpening());
}

} // namespace
} // namespace lumora
