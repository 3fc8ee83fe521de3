#include "PairingStep.hpp"

#include "domain/PairingStateMachine.hpp"

namespace lumora {

AccountSession::PairingStep choosePairingStep(const std::optional<PairingState>& pairing,
    const std::optional<PairingRedemption>& redemption, const std::optional<PairingInvite>& invite)
{
    const std::optional<PairingStage> stage = pairing.transform(&PairingStateMachine::stage);
    if (stage && stage->kind() == PairingStage::Kind::paired)
        return AccountSession::Linked;
    if (redemption)
        return AccountSession::Confirmation;
    if (invite)
        return AccountSession::FreshCode;
    if (stage && stage->kind() == PairingStage::Kind::inviteOutstanding)
        return AccountSession::Waiting;
    return AccountSession::Unlinked;
}

} // namespace lumora
