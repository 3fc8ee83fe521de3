#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonValue>
#include <QString>
#include <expected>
#include <optional>

namespace lumora {

// A workspace the account belonged to earlier; its conversations stay readable to its members.
struct PairingPreviousWorkspace {
    // Opaque: kept as the control plane wrote it, never parsed as a UUID.
    QString workspaceID;
    qint64 linkedAt = 0;
    std::optional<qint64> unlinkedAt;
    qint64 memberCount = 0;
    qint64 conversationCount = 0;

    bool operator==(const PairingPreviousWorkspace&) const = default;

    bool wasShared() const { return memberCount > 1; }

    // Reads "workspace_id", "linked_at", "unlinked_at", "member_count" and "conversation_count".
    [[nodiscard]] static std::expected<PairingPreviousWorkspace, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
