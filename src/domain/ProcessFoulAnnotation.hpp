#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/ProcessFoul.hpp"

#include <QJsonObject>
#include <expected>

namespace lumora {

// One process foul found on one turn, kept as received whatever its confidence.
struct ProcessFoulAnnotation {
    qint64 turnIndex = 0;
    qint64 speaker = 0;
    ProcessFoul foul = ProcessFoul::kitchenSinking;
    double confidence = 0;
    double start = 0;
    double end = 0;

    ProcessFoulAnnotation() = default;
    // Stores the seat of the speaker (always 0 or 1) and limits confidence to 0...1.
    ProcessFoulAnnotation(
        qint64 turnIndex, qint64 speaker, ProcessFoul foul, double confidence, double start, double end);

    bool operator==(const ProcessFoulAnnotation&) const = default;

    QJsonObject toJson() const;
    // Keeps the decoded speaker and confidence as they are.
    [[nodiscard]] static std::expected<ProcessFoulAnnotation, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
