#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/UnixSeconds.hpp"

#include <QJsonValue>
#include <QString>
#include <QUuid>
#include <expected>

namespace lumora {

// A one-time code the control plane has just issued to this user.
struct PairingInvite {
    QUuid inviteID;
    QString code;
    qint64 expiresAt = 0;

    bool operator==(const PairingInvite&) const = default;

    QDateTime expiresOn() const { return dateFromUnixSeconds(expiresAt); }

    // Reads the control plane's reply keys: "invite_id", "code", "expires_at".
    [[nodiscard]] static std::expected<PairingInvite, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
