#pragma once

#include <QString>

namespace lumora {

// Why a pairing step did not go through, as the user is told.
enum class PairingFailure {
    codeNotRecognized,
    ownCode,
    alreadyPaired,
    codeAlreadyUsed,
    confirmationExpired,
    confirmationNotFound,
    notPaired,
    offline,
    unavailable,
};

// The one sentence the user sees for the failure.
QString message(PairingFailure failure);

} // namespace lumora
