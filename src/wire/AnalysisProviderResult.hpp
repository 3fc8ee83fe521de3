#pragma once

#include "domain/BehaviorAnnotation.hpp"
#include "domain/JsonDecodeError.hpp"
#include "domain/ProcessFoulAnnotation.hpp"
#include "wire/CircularityEvidence.hpp"
#include "wire/HarshStartupEvidence.hpp"
#include "wire/StepDetection.hpp"

#include <QJsonObject>
#include <QList>
#include <expected>
#include <optional>

namespace lumora {

// The reply to an analysis request. Turn indexes count from the first turn of the
// request that produced it.
struct AnalysisProviderResult {
    QString model;
    std::optional<QString> title;
    QString summary;
    QList<BehaviorAnnotation> annotations;
    std::optional<QList<ProcessFoulAnnotation>> fouls;
    qint64 inputTokens = 0;
    qint64 outputTokens = 0;
    std::optional<StepDetection> stepDetected;
    std::optional<QString> adherenceNote;
    std::optional<QList<QString>> nudges;
    std::optional<CircularityEvidence> circularity;
    std::optional<HarshStartupEvidence> harshStartup;

    bool operator==(const AnalysisProviderResult&) const = default;

    // The same result with turn indexes counted from `offset` turns earlier, as a live
    // batch's findings are placed in the whole conversation. A non-zero shift also
    // normalises speakers and confidences, gives present foul and nudge lists and keeps
    // at most two nudges; a zero shift changes nothing.
    AnalysisProviderResult offsettingTurnIndexes(qint64 offset) const;

    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<AnalysisProviderResult, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
