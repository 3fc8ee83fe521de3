#include "domain/PairingStateMachine.hpp"

namespace lumora {

PairingStage PairingStateMachine::stage(const PairingState& state)
{
    if (state.workspace.paired)
        return PairingStage::paired(state.workspace);
    if (state.pendingConfirmation)
        return PairingStage::awaitingConfirmation(*state.pendingConfirmation);
    if (state.pendingInvite)
        return PairingStage::inviteOutstanding(*state.pendingInvite);
    return PairingStage::unpaired();
}

} // namespace lumora
