#pragma once

#include "domain/PairingStage.hpp"
#include "domain/PairingState.hpp"

namespace lumora {

struct PairingStateMachine {
    // A paired workspace wins over anything pending; a redeemed code awaiting this user's
    // confirmation wins over this user's own outstanding code.
    static PairingStage stage(const PairingState& state);
};

} // namespace lumora
