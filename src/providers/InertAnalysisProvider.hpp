#pragma once

#include "providers/AnalysisProvider.hpp"

namespace lumora {

// Why a live analysis was not made: this conversation asked for none.
enum class LiveCoachingError { notRequested };

// The live analyzer of a check-in: it makes no request and fails every call with
// `LiveCoachingError::notRequested`, so a check-in shows no live insights.
class InertAnalysisProvider final : public AnalysisProvider {
public:
    [[nodiscard]] QCoro::Task<std::expected<AnalysisProviderResult, ProviderFailure>> analyze(
        AnalysisPass pass, AnalysisRubric rubric, QList<SpeakerTurn> turns,
        std::optional<LiveAnalysisContext> context, QUuid reservationID) const override;
};

} // namespace lumora
