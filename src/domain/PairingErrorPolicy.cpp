#include "domain/PairingErrorPolicy.hpp"

#include "domain/ControlPlaneError.hpp"

namespace lumora {

namespace {

struct ServerCodeFailure {
    QStringView code;
    PairingFailure failure;
};

constexpr ServerCodeFailure serverCodeFailures[] {
    { u"pairing_own_invite", PairingFailure::ownCode },
    { u"already_paired", PairingFailure::alreadyPaired },
    { u"pairing_invite_unavailable", PairingFailure::codeAlreadyUsed },
    { u"pairing_invite_already_redeemed", PairingFailure::codeAlreadyUsed },
    { u"pairing_confirmation_replayed", PairingFailure::codeAlreadyUsed },
    { u"not_paired", PairingFailure::notPaired },
    { u"pairing_confirmation_not_found", PairingFailure::confirmationNotFound },
};

} // namespace

PairingFailure PairingErrorPolicy::failure(
    std::optional<int> statusCode, std::optional<QStringView> errorCode)
{
    if (!statusCode)
        return PairingFailure::offline;
    if (errorCode) {
        for (const ServerCodeFailure& known : serverCodeFailures) {
            if (known.code == *errorCode)
                return known.failure;
        }
    }
    switch (*statusCode) {
    case 404:
        return PairingFailure::codeNotRecognized;
    case 409:
        return PairingFailure::alreadyPaired;
    case 410:
        return PairingFailure::confirmationExpired;
    case 422:
        if (errorCode == u"pairing_code_invalid")
            return PairingFailure::codeNotRecognized;
        break;
    default:
        break;
    }
    return PairingFailure::unavailable;
}

PairingFailure PairingErrorPolicy::failure(const ControlPlaneError& error)
{
    switch (error.kind()) {
    case ControlPlaneError::Kind::rejected:
        return failure(error.status(), std::nullopt);
    case ControlPlaneError::Kind::rejectedWithCode:
        return failure(error.status(), QStringView(*error.code()));
    case ControlPlaneError::Kind::invalidResponse:
        break;
    }
    return PairingFailure::unavailable;
}

} // namespace lumora
