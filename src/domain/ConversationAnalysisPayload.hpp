#pragma once

#include "domain/BehaviorAnnotation.hpp"
#include "domain/JsonDecodeError.hpp"
#include "domain/ProcessFoulAnnotation.hpp"
#include "domain/SpeakerStats.hpp"

#include <QJsonObject>
#include <QList>
#include <expected>
#include <optional>

namespace lumora {

struct DerivedSessionResult;

// The analysis part of an account upload body.
struct ConversationAnalysisPayload {
    static constexpr qint64 currentSchema = 1;

    qint64 schema = currentSchema;
    QString summary;
    QList<SpeakerStats> stats;
    QList<BehaviorAnnotation> annotations;
    // Never absent: a review without fouls gives an empty list.
    QList<ProcessFoulAnnotation> fouls;
    std::optional<bool> harshStartupDetected;

    bool operator==(const ConversationAnalysisPayload&) const = default;

    static ConversationAnalysisPayload fromResult(const DerivedSessionResult& result);

    // The same summary, statistics and harsh start-up flag, with no annotations and no fouls:
    // the first detail given up when a body is too large.
    ConversationAnalysisPayload withoutAnnotations() const;

    QJsonObject toJson() const;
    // "schema" is taken as read, whatever its value.
    [[nodiscard]] static std::expected<ConversationAnalysisPayload, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
