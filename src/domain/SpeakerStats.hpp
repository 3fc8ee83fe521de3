#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <QList>
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

    // The conversation's turns: every seat's together. Stored counts may be anything, so a sum
    // past the range of qint64 stays at its end.
    static qint64 totalTurns(const QList<SpeakerStats>& stats);

    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<SpeakerStats, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
