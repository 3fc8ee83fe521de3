#include "appcore/PairingService.hpp"

#include "ServicesFixture.hpp"
#include "domain/PairingCode.hpp"
#include "domain/PairingPolicy.hpp"

namespace lumora {
namespace {

// The real pairing client noting the codes it redeems; or, with `failure` set, a client
// that answers every call with it.
class PairingClientProbe final : public PairingClient {
public:
    explicit PairingClientProbe(std::shared_ptr<const PairingClient> real = {})
        : m_real(std::move(real))
    {
    }

    mutable QStringList redeemed;
    std::optional<ControlPlaneFailure> failure;

    QCoro::Task<std::expected<PairingInvite, ControlPlaneFailure>> createPairingInvite(
        QString policy) const override
    {
        return m_real->createPairingInvite(policy);
    }
    QCoro::Task<std::expected<PairingRedemption, ControlPlaneFailure>> redeemPairingInvite(
        QString code) const override
    {
        redeemed.append(code);
        return m_real->redeemPairingInvite(code);
    }
    QCoro::Task<std::expected<PairingConfirmation, ControlPlaneFailure>> confirmPairingInvite(
        QUuid inviteID, QString policy) const override
    {
        return m_real->confirmPairingInvite(inviteID, policy);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> unlinkPairing() const override
    {
        if (failure)
            co_return std::unexpected(*failure);
        co_return co_await m_real->unlinkPairing();
    }
    QCoro::Task<std::expected<PairingState, ControlPlaneFailure>> pairingState() const override
    {
        return m_real->pairingState();
    }

private:
    std::shared_ptr<const PairingClient> m_real;
};

class PairingServiceTest : public testing::ServicesTest {
protected:
    static std::shared_ptr<PairingService> over(std::shared_ptr<const PairingClient> client)
    {
        return PairingService::create(std::move(client), PairingPolicy::version.toString());
    }
};

TEST_F(PairingServiceTest, PartnersLinkWithATypedCodeAndRefusalsArriveAsPairingFailures)
{
    const auto ada = over(account("Ada"));
    const auto bobClient = std::make_shared<PairingClientProbe>(account("Bob"));
    const auto bob = over(bobClient);

    const auto invite = test::awaitTask(ada->createInvite());
    ASSERT_TRUE(invite.has_value());
    EXPECT_EQ(test::awaitTask(ada->redeem(invite->code)), std::unexpected(PairingFailure::ownCode));
    // Typed in lower case with separators and blanks: sent bare and upper-case.
    const auto redemption
        = test::awaitTask(bob->redeem("  " + PairingCode::formatted(invite->code).toLower() + " "));
    ASSERT_TRUE(redemption.has_value());
    EXPECT_EQ(bobClient->redeemed, QStringList { invite->code });
    EXPECT_EQ(test::awaitTask(bob->confirm(redemption->inviteID))->memberCount, 2);
    EXPECT_TRUE(test::awaitTask(ada->state())->workspace.paired);
    EXPECT_EQ(test::awaitTask(bob->confirm(redemption->inviteID)),
        std::unexpected(PairingFailure::codeAlreadyUsed));
    EXPECT_EQ(test::awaitTask(ada->createInvite()), std::unexpected(PairingFailure::alreadyPaired));
    EXPECT_TRUE(test::awaitTask(bob->unlink()));
    EXPECT_EQ(test::awaitTask(bob->unlink()), std::unexpected(PairingFailure::notPaired));

    // Codes that cannot be partner codes are refused here: no request, no log line.
    for (const char* code : { "ABCD-EFGH-JKM", "ABCD-EFGH-JKMNP", "ABCD-EFGH-JKMU", "" })
        EXPECT_EQ(test::awaitTask(bob->redeem(code)), std::unexpected(PairingFailure::codeNotRecognized));
    EXPECT_EQ(bobClient->redeemed.size(), 1);

    // One log line per failure, by case name; so for failures without a refusal.
    EXPECT_EQ(test::awaitTask(over(unreachable())->unlink()), std::unexpected(PairingFailure::offline));
    const std::pair<ControlPlaneFailure, PairingFailure> rows[] = {
        { ControlPlaneError::invalidResponse(), PairingFailure::unavailable },
        { JsonDecodeError { "state: missing" }, PairingFailure::offline },
    };
    for (const auto& [reply, failure] : rows) {
        const auto scripted = std::make_shared<PairingClientProbe>();
        scripted->failure = reply;
        EXPECT_EQ(test::awaitTask(over(scripted)->unlink()), std::unexpected(failure));
    }
    QStringList refused;
    for (const char* name :
        { "ownCode", "codeAlreadyUsed", "alreadyPaired", "notPaired", "offline", "unavailable", "offline" })
        refused.append(QString("pairing: Pairing step refused: ") + name);
    EXPECT_EQ(log.take(), refused);
}

} // namespace
} // namespace lumora
