#include "PairingStep.hpp"

#include "domain/PairingStateMachine.hpp"

namespace lumora {

PairingStep choosePairingStep(const std::optional<PairingState>& pairing,
    const std::optional<PairingRedemption>& redemption, const std::optional<PairingInvite>& invite)
{
    const std::optional<PairingStage> stage = pairing.transform(&PairingStateMachine::stage);
    if (stage && stage->kind() == PairingStage::Kind::paired)
        return PairingStep::linked;
    if (redemption)
        return PairingStep::confirmation;
    if (invite)
        return PairingStep::freshCode;
    if (stage && stage->kind() == PairingStage::Kind::inviteOutstanding)
        return PairingStep::waiting;
    return PairingStep::unlinked;
}

QString pairingStepName(PairingStep step)
{
    switch (step) {
    case PairingStep::linked:
        return QStringLiteral("linked");
    case PairingStep::confirmation:
        return QStringLiteral("confirmation");
    case PairingStep::freshCode:
        return QStringLiteral("freshCode");
    case PairingStep::waiting:
        return QStringLiteral("waiting");
    case PairingStep::unlinked:
        break;
    }
    return QStringLiteral("unlinked");
}

} // namespace lumora
