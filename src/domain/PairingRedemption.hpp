#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/PairingHistorySummary.hpp"
#include "domain/UnixSeconds.hpp"

#include <QJsonValue>
#include <QUuid>
#include <expected>

namespace lumora {

// The answer to redeeming a partner's code; the link is made only once this user confirms.
struct PairingRedemption {
    QUuid inviteID;
    qint64 confirmExpiresAt = 0;
    PairingHistorySummary history;

    bool operator==(const PairingRedemption&) const = default;

    QDateTime confirmExpiresOn() const { return dateFromUnixSeconds(confirmExpiresAt); }

    // Reads "invite_id", "confirm_expires_at" and the "history" object.
    [[nodiscard]] static std::expected<PairingRedemption, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
