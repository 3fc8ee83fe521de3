#include "appcore/PairingService.hpp"

#include "ServicesFixture.hpp"
#include "domain/PairingCode.hpp"
#include "domain/PairingPolicy.hpp"

namespace lumora {
namespace {

using testing::settle;

// The real pairing client, noting the codes it is asked to redeem; or, with `failure` set,
// a client that answers every call with that failure.
class PairingClientProbe final : public PairingClient {
public:
    explicit PairingClientProbe(std::shared_ptr<const PairingClient> real)
        : m_real(std::move(real))
    {
    }

    mutable QStringList redeemed;
    std::optional<ControlPlaneFailure> failure;

    QCoro::Task<std::expected<PairingInvite, ControlPlaneFailure>> createPairingInvite(
        QString policyVersion) const override
    {
        if (failure)
            co_return std::unexpected(*failure);
        co_return co_await m_real->createPairingInvite(policyVersion);
    }
    QCoro::Task<std::expected<PairingRedemption, ControlPlaneFailure>> redeemPairingInvite(
        QString code) const override
    {
        redeemed.append(code);
        if (failure)
            co_return std::unexpected(*failure);
        co_return co_await m_real->redeemPairingInvite(code);
    }
    QCoro::Task<std::expected<PairingConfirmation, ControlPlaneFailure>> confirmPairingInvite(
        QUuid inviteID, QString policyVersion) const override
    {
        if (failure)
            co_return std::unexpected(*failure);
        co_return co_await m_real->confirmPairingInvite(inviteID, policyVersion);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> unlinkPairing() const override
    {
        if (failure)
            co_return std::unexpected(*failure);
        co_return co_await m_real->unlinkPairing();
    }
    QCoro::Task<std::expected<PairingState, ControlPlaneFailure>> pairingState() const override
    {
        if (failure)
            co_return std::unexpected(*failure);
        co_return co_await m_real->pairingState();
    }

private:
    std::shared_ptr<const PairingClient> m_real;
};

class PairingServiceTest : public testing::ServicesTest {
protected:
    std::shared_ptr<PairingService> serviceOver(const std::shared_ptr<const PairingClient>& client)
    {
        return PairingService::create(client, PairingPolicy::version.toString());
    }
};

TEST_F(PairingServiceTest, PartnersLinkWithATypedCodeAndRefusalsArriveAsPairingFailures)
{
    const auto ada = serviceOver(account("Ada"));
    const auto bobClient = std::make_shared<PairingClientProbe>(account("Bob"));
    const auto bob = serviceOver(bobClient);

    const auto invite = settle(ada->createInvite());
    ASSERT_TRUE(invite.has_value());
    EXPECT_EQ(settle(ada->redeem(invite->code)), std::unexpected(PairingFailure::ownCode));
    EXPECT_EQ(log.take("pairing"), QStringList { "Pairing step refused: ownCode" });

    // Typed in lower case with separators and blanks around it: sent bare and upper-case.
    const QString typed = "  " + PairingCode::formatted(invite->code).toLower() + " ";
    const auto redemption = settle(bob->redeem(typed));
    ASSERT_TRUE(redemption.has_value());
    EXPECT_EQ(bobClient->redeemed, QStringList { invite->code });
    EXPECT_EQ(redemption->inviteID, invite->inviteID);
    const auto confirmation = settle(bob->confirm(redemption->inviteID));
    ASSERT_TRUE(confirmation.has_value());
    EXPECT_EQ(confirmation->memberCount, 2);
    EXPECT_TRUE(settle(ada->state())->workspace.paired);
    EXPECT_EQ(settle(bob->confirm(redemption->inviteID)), std::unexpected(PairingFailure::codeAlreadyUsed));
    EXPECT_EQ(settle(ada->createInvite()), std::unexpected(PairingFailure::alreadyPaired));

    EXPECT_TRUE(settle(bob->unlink()).has_value());
    EXPECT_EQ(settle(bob->unlink()), std::unexpected(PairingFailure::notPaired));
    EXPECT_FALSE(settle(bob->state())->workspace.paired);
    EXPECT_EQ(log.take("pairing"),
        (QStringList { "Pairing step refused: codeAlreadyUsed", "Pairing step refused: alreadyPaired",
            "Pairing step refused: notPaired" }));

    // Codes that cannot be partner codes are refused here: no request, no log line.
    for (const QString& code :
        { QString("ABCD-EFGH-JKM"), QString("ABCD-EFGH-JKMNP"), QString("ABCD-EFGH-JKMU"), QString() }) {
        EXPECT_EQ(settle(bob->redeem(code)), std::unexpected(PairingFailure::codeNotRecognized));
    }
    EXPECT_EQ(bobClient->redeemed.size(), 1);
    EXPECT_TRUE(log.take("pairing").isEmpty());
}

TEST_F(PairingServiceTest, FailuresWithoutAServerRefusal)
{
    const auto offline = serviceOver(unreachable());
    EXPECT_EQ(settle(offline->state()), std::unexpected(PairingFailure::offline));
    EXPECT_EQ(log.take("pairing"), QStringList { "Pairing step refused: offline" });

    const std::pair<ControlPlaneFailure, PairingFailure> rows[] = {
        { ControlPlaneError::invalidResponse(), PairingFailure::unavailable },
        { ControlPlaneError::rejected(500), PairingFailure::unavailable },
        { ControlPlaneError::rejectedWithCode(422, "something_else"), PairingFailure::unavailable },
        { JsonDecodeError { "state: missing" }, PairingFailure::offline },
        { CryptoError::primitiveFailed, PairingFailure::offline },
    };
    for (const auto& [reply, failure] : rows) {
        const auto client = std::make_shared<PairingClientProbe>(nullptr);
        client->failure = reply;
        EXPECT_EQ(settle(serviceOver(client)->unlink()), std::unexpected(failure));
        EXPECT_EQ(log.take("pairing"),
            QStringList { QString("Pairing step refused: ") + PairingService::caseName(failure) });
    }
}

} // namespace
} // namespace lumora
