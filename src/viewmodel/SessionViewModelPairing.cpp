// The pairing operations of the session view model.
#include "appcore/PairingService.hpp"
#include "viewmodel/SessionViewModel.hpp"

namespace lumora {

QCoro::Task<void> SessionViewModel::refreshPairingState()
{
    const auto service = m_pairingService;
    if (!service)
        co_return;
    const auto alive = lifetime();
    const auto state = co_await service->state();
    // A state read for an account that was signed out meanwhile is not shown.
    if (alive.expired() || !state || service != m_pairingService)
        co_return;
    publish(m_pairing, std::optional(*state), &SessionViewModel::pairingChanged);
    if (!state->pendingInvite)
        publish(m_pairingInvite, std::optional<PairingInvite>(), &SessionViewModel::pairingInviteChanged);
    if (state->pendingConfirmation) {
        publish(m_pairingRedemption, std::optional(state->pendingConfirmation->redemption()),
            &SessionViewModel::pairingRedemptionChanged);
    } else if (state->workspace.paired) {
        publish(m_pairingRedemption, std::optional<PairingRedemption>(),
            &SessionViewModel::pairingRedemptionChanged);
    }
}

QCoro::Task<void> SessionViewModel::performPairing(PairingStep step, QString code, QUuid inviteID)
{
    if (m_isPairingBusy)
        co_return;
    const auto service = m_pairingService;
    if (!service) {
        publish(m_pairingError, std::optional(notConnectedMessage()), &SessionViewModel::pairingErrorChanged);
        co_return;
    }
    publish(m_isPairingBusy, true, &SessionViewModel::isPairingBusyChanged);
    publish(m_pairingError, std::optional<QString>(), &SessionViewModel::pairingErrorChanged);
    const auto alive = lifetime();
    const auto outcome = co_await runPairingStep(service, step, std::move(code), inviteID);
    if (alive.expired())
        co_return;
    if (!outcome && service == m_pairingService)
        publish(
            m_pairingError, std::optional(message(outcome.error())), &SessionViewModel::pairingErrorChanged);
    co_await refreshPairingState();
    if (alive.expired())
        co_return;
    publish(m_isPairingBusy, false, &SessionViewModel::isPairingBusyChanged);
}

QCoro::Task<std::expected<void, PairingFailure>> SessionViewModel::runPairingStep(
    std::shared_ptr<PairingService> service, PairingStep step, QString code, QUuid inviteID)
{
    // A step's result belongs to the account it ran for: after `clearPairing` it is dropped.
    const auto alive = lifetime();
    switch (step) {
    case PairingStep::invite: {
        auto invite = co_await service->createInvite();
        if (!invite)
            co_return std::unexpected(invite.error());
        if (!alive.expired() && service == m_pairingService)
            publish(m_pairingInvite, std::optional(*invite), &SessionViewModel::pairingInviteChanged);
        co_return std::expected<void, PairingFailure> {};
    }
    case PairingStep::redeem: {
        auto redemption = co_await service->redeem(code);
        if (!redemption)
            co_return std::unexpected(redemption.error());
        if (!alive.expired() && service == m_pairingService)
            publish(
                m_pairingRedemption, std::optional(*redemption), &SessionViewModel::pairingRedemptionChanged);
        co_return std::expected<void, PairingFailure> {};
    }
    case PairingStep::confirm: {
        auto confirmation = co_await service->confirm(inviteID);
        if (!confirmation)
            co_return std::unexpected(confirmation.error());
        if (!alive.expired() && service == m_pairingService) {
            publish(m_pairingRedemption, std::optional<PairingRedemption>(),
                &SessionViewModel::pairingRedemptionChanged);
            publish(m_pairingInvite, std::optional<PairingInvite>(), &SessionViewModel::pairingInviteChanged);
        }
        co_return std::expected<void, PairingFailure> {};
    }
    case PairingStep::unlink:
        co_return co_await service->unlink();
    }
    co_return std::expected<void, PairingFailure> {};
}

QCoro::Task<void> SessionViewModel::createPairingInvite()
{
    return performPairing(PairingStep::invite, {}, {});
}

QCoro::Task<void> SessionViewModel::redeemPairingCode(QString code)
{
    return performPairing(PairingStep::redeem, std::move(code), {});
}

QCoro::Task<void> SessionViewModel::unlinkPartner()
{
    return performPairing(PairingStep::unlink, {}, {});
}

QCoro::Task<void> SessionViewModel::confirmPairing()
{
    if (!m_pairingRedemption)
        co_return;
    const QUuid inviteID = m_pairingRedemption->inviteID;
    const auto alive = lifetime();
    co_await performPairing(PairingStep::confirm, {}, inviteID);
    if (alive.expired())
        co_return;
    co_await synchronizeHistory(true);
}

void SessionViewModel::requestPairingState()
{
    start(refreshPairingState());
}

void SessionViewModel::requestPairingInvite()
{
    start(createPairingInvite());
}

void SessionViewModel::requestPairingRedemption(const QString& code)
{
    start(redeemPairingCode(code));
}

void SessionViewModel::requestUnlink()
{
    start(unlinkPartner());
}

void SessionViewModel::requestPairingConfirmation()
{
    start(confirmPairing());
}

} // namespace lumora
