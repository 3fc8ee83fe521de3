#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <expected>

namespace lumora {

// The agenda step an analysis recognised.
struct StepDetection {
    qint64 index = 0;
    double confidence = 0;

    bool operator==(const StepDetection&) const = default;

    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<StepDetection, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
