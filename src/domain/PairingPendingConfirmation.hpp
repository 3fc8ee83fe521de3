#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/PairingHistorySummary.hpp"
#include "domain/PairingRedemption.hpp"

#include <QJsonValue>
#include <QUuid>
#include <expected>

namespace lumora {

// A partner's code that this user redeemed earlier and has not confirmed yet.
struct PairingPendingConfirmation {
    QUuid inviteID;
    qint64 confirmExpiresAt = 0;
    PairingHistorySummary history;

    bool operator==(const PairingPendingConfirmation&) const = default;

    // The same three values as a redemption, so that a code redeemed earlier is shown and
    // confirmed exactly like a fresh one.
    PairingRedemption redemption() const { return { inviteID, confirmExpiresAt, history }; }

    // Reads "invite_id", "confirm_expires_at" and the "history" object.
    [[nodiscard]] static std::expected<PairingPendingConfirmation, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
