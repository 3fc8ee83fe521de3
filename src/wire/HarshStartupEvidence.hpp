#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <QString>
#include <expected>

namespace lumora {

// The analysis service's finding about a harsh opening.
struct HarshStartupEvidence {
    bool detected = false;
    double confidence = 0;
    QString note;

    bool operator==(const HarshStartupEvidence&) const = default;

    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<HarshStartupEvidence, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
