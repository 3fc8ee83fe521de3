#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/UnixSeconds.hpp"

#include <QJsonValue>
#include <QString>
#include <QUuid>
#include <expected>
#include <optional>

namespace lumora {

// A code this user issued that is still outstanding.
struct PairingPendingInvite {
    QUuid inviteID;
    // The invite's state on the control plane; only "pending_confirmation" is interpreted.
    QString status;
    qint64 expiresAt = 0;
    std::optional<qint64> confirmExpiresAt;

    bool operator==(const PairingPendingInvite&) const = default;

    QDateTime expiresOn() const { return dateFromUnixSeconds(expiresAt); }
    // The partner has redeemed the code and is deciding (exact, case-sensitive status).
    bool isBeingConsidered() const { return status == u"pending_confirmation"; }

    // Reads "invite_id", "status", "expires_at" and "confirm_expires_at".
    [[nodiscard]] static std::expected<PairingPendingInvite, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
