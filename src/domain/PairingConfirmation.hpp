#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonValue>
#include <expected>
#include <optional>

namespace lumora {

// The answer to confirming a redeemed code.
struct PairingConfirmation {
    std::optional<qint64> linkedAt;
    qint64 memberCount = 0;

    bool operator==(const PairingConfirmation&) const = default;

    // Reads "linked_at" and "member_count".
    [[nodiscard]] static std::expected<PairingConfirmation, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
