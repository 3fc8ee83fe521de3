#pragma once

#include "AccountSession.hpp"
#include "domain/PairingInvite.hpp"
#include "domain/PairingRedemption.hpp"
#include "domain/PairingState.hpp"

#include <optional>

namespace lumora {

// Which step the pairing section shows, the first that holds: a linked workspace; a
// redemption to confirm; a fresh code; an outstanding invite; otherwise not linked (a pending
// confirmation without its redemption included, as after the confirmation's Cancel).
AccountSession::PairingStep choosePairingStep(const std::optional<PairingState>& pairing,
    const std::optional<PairingRedemption>& redemption, const std::optional<PairingInvite>& invite);

} // namespace lumora
