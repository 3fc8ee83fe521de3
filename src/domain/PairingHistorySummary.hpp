#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/UnixSeconds.hpp"

#include <QJsonValue>
#include <expected>
#include <optional>

namespace lumora {

// What the account that issued a code already holds, shown to the partner before confirming.
struct PairingHistorySummary {
    qint64 conversationCount = 0;
    std::optional<qint64> earliestStartedAt;
    std::optional<qint64> latestStartedAt;

    bool operator==(const PairingHistorySummary&) const = default;

    std::optional<QDateTime> earliest() const { return earliestStartedAt.transform(dateFromUnixSeconds); }
    std::optional<QDateTime> latest() const { return latestStartedAt.transform(dateFromUnixSeconds); }

    // Reads "conversation_count", "earliest_started_at" and "latest_started_at".
    [[nodiscard]] static std::expected<PairingHistorySummary, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
