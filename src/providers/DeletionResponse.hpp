#pragma once

#include "domain/ConversationDeletionOutcome.hpp"
#include "domain/JsonDecodeError.hpp"

#include <QJsonValue>
#include <QString>
#include <expected>
#include <optional>

namespace lumora {

// The reply to a deletion request. Every key may be absent or null, but the reply must be
// a JSON object.
struct DeletionResponse {
    std::optional<QString> status;
    std::optional<bool> requestedByMe;
    std::optional<qint64> requestedAt;
    std::optional<qint64> expiresAt;

    bool operator==(const DeletionResponse&) const = default;

    [[nodiscard]] static std::expected<DeletionResponse, JsonDecodeError> fromJson(const QJsonValue& value);

    // Waiting for the partner exactly when the status is "pending_approval" (letter case
    // counts); absent details read as asked by this account, at time 0, lapsing at 0.
    // Anything else means the conversation is gone.
    [[nodiscard]] ConversationDeletionOutcome outcome() const;
};

} // namespace lumora
