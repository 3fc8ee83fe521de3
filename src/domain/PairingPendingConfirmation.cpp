#include "domain/PairingPendingConfirmation.hpp"

namespace lumora {

// A pending confirmation travels in the same form as the answer to redeeming the code.
std::expected<PairingPendingConfirmation, JsonDecodeError> PairingPendingConfirmation::fromJson(
    const QJsonValue& value)
{
    auto redemption = PairingRedemption::fromJson(value);
    if (!redemption)
        return std::unexpected(redemption.error());
    return PairingPendingConfirmation { redemption->inviteID, redemption->confirmExpiresAt,
        std::move(redemption->history) };
}

} // namespace lumora
