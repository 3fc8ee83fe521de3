#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <expected>

namespace lumora {

// What the live conversation adds to an analysis or nudge request.
struct LiveAnalysisContext {
    qint64 currentAgendaStep = 0;

    LiveAnalysisContext() = default;
    // Limits the step to the six agenda steps, 0...5; decoding keeps what it reads.
    explicit LiveAnalysisContext(qint64 currentAgendaStep);

    bool operator==(const LiveAnalysisContext&) const = default;

    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<LiveAnalysisContext, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
