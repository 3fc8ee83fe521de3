#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/UnixSeconds.hpp"

#include <QJsonValue>
#include <QString>
#include <expected>
#include <optional>

namespace lumora {

// The account's present workspace: the account alone, or the account and its partner.
struct PairingWorkspace {
    // Opaque: kept as the control plane wrote it, never parsed as a UUID.
    QString workspaceID;
    bool paired = false;
    qint64 memberCount = 0;
    std::optional<qint64> linkedAt;
    std::optional<qint64> partnerJoinedAt;

    bool operator==(const PairingWorkspace&) const = default;

    std::optional<QDateTime> linkedOn() const { return linkedAt.transform(dateFromUnixSeconds); }

    // Reads "workspace_id", "paired", "member_count", "linked_at" and "partner_joined_at".
    [[nodiscard]] static std::expected<PairingWorkspace, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
