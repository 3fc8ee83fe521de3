#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <expected>

namespace lumora {

// A deletion of a shared conversation that waits for the partner's approval.
struct PendingConversationDeletion {
    // False: the partner asked for it.
    bool requestedByMe = false;
    // Whole seconds since 1970.
    qint64 requestedAt = 0;
    qint64 expiresAt = 0;

    bool operator==(const PendingConversationDeletion&) const = default;

    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<PendingConversationDeletion, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
