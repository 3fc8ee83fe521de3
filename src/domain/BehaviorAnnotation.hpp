#pragma once

#include "domain/BehaviorCode.hpp"
#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <expected>

namespace lumora {

// One behaviour code found on one turn, kept as received whatever its confidence.
struct BehaviorAnnotation {
    qint64 turnIndex = 0;
    qint64 speaker = 0;
    BehaviorCode code = BehaviorCode::criticism;
    double confidence = 0;
    double start = 0;
    double end = 0;

    BehaviorAnnotation() = default;
    // Reduces the speaker with its sign, as turns do, and limits confidence to 0...1.
    BehaviorAnnotation(
        qint64 turnIndex, qint64 speaker, BehaviorCode code, double confidence, double start, double end);

    bool operator==(const BehaviorAnnotation&) const = default;

    QJsonObject toJson() const;
    // Keeps the decoded speaker and confidence as they are.
    [[nodiscard]] static std::expected<BehaviorAnnotation, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
