#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <QString>
#include <expected>

namespace lumora {

// The analysis service's finding that the partners are going round in circles.
struct CircularityEvidence {
    bool detected = false;
    double confidence = 0;
    QString repeatedPoint;
    QString rationale;
    QString resetSuggestion;

    bool operator==(const CircularityEvidence&) const = default;

    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<CircularityEvidence, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
