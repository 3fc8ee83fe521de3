#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/SpeakerTurn.hpp"

#include <QJsonObject>
#include <QList>
#include <expected>
#include <optional>

namespace lumora {

// The transcript part of an account upload body.
struct ConversationTranscriptPayload {
    static constexpr qint64 currentSchema = 1;

    qint64 schema = currentSchema;
    QList<SpeakerTurn> segments;
    // Absent unless segments were dropped to fit the body limit; then true.
    std::optional<bool> truncated;
    // Absent unless the segments are the turns heard live, the recording never transcribed in
    // full; then true. Readers that do not know it pass it by.
    std::optional<bool> live;

    bool operator==(const ConversationTranscriptPayload&) const = default;

    QJsonObject toJson() const;
    // "schema" is taken as read, whatever its value.
    [[nodiscard]] static std::expected<ConversationTranscriptPayload, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
