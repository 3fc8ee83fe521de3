#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <expected>

namespace lumora {

// Totals of one seat for one conversation.
struct SpeakerStats {
    qint64 speaker = 0;
    double talkTime = 0;
    qint64 turns = 0;
    double longestTurn = 0;
    double share = 0;

    bool operator==(const SpeakerStats&) const = default;

    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<SpeakerStats, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
