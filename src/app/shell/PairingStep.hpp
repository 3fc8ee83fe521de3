#pragma once

#include "domain/PairingInvite.hpp"
#include "domain/PairingRedemption.hpp"
#include "domain/PairingState.hpp"

#include <QString>
#include <optional>

namespace lumora {

// Which of its five steps the pairing section shows.
enum class PairingStep { linked, confirmation, freshCode, waiting, unlinked };

// The first that holds: a linked workspace; a redemption to confirm; a fresh code; an
// outstanding invite; otherwise not linked (a pending confirmation without its redemption
// included, as after the confirmation's Cancel).
PairingStep choosePairingStep(const std::optional<PairingState>& pairing,
    const std::optional<PairingRedemption>& redemption, const std::optional<PairingInvite>& invite);

// The step's name as the views compare it: "linked", "confirmation", "freshCode", "waiting",
// "unlinked".
QString pairingStepName(PairingStep step);

} // namespace lumora
