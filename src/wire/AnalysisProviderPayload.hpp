#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/SpeakerTurn.hpp"
#include "wire/AnalysisPass.hpp"

#include <QJsonObject>
#include <QList>
#include <expected>
#include <optional>

namespace lumora {

// The body of an analysis request, stored as given.
struct AnalysisProviderPayload {
    AnalysisPass pass = AnalysisPass::live;
    QString rubricVersion;
    QList<SpeakerTurn> turns;
    std::optional<qint64> currentStep;

    bool operator==(const AnalysisProviderPayload&) const = default;

    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<AnalysisProviderPayload, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
