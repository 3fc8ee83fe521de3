#pragma once

#include "domain/PairingFailure.hpp"

#include <QStringView>
#include <optional>

namespace lumora {

class ControlPlaneError;

struct PairingErrorPolicy {
    // `statusCode` is the HTTP status of a refused request, none when no HTTP answer came;
    // `errorCode` is the server's own code from the error body, none when it sent none.
    // No answer at all is `offline`; a known server code wins over the status.
    static PairingFailure failure(std::optional<int> statusCode, std::optional<QStringView> errorCode);

    // A control-plane refusal of a pairing call. Every other error of such a call (no
    // connection, a transport failure, a reply that does not decode) is `offline`, which is
    // `failure(std::nullopt, std::nullopt)`.
    static PairingFailure failure(const ControlPlaneError& error);
};

} // namespace lumora
