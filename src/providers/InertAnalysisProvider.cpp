#include "providers/InertAnalysisProvider.hpp"

namespace lumora {

QCoro::Task<std::expected<AnalysisProviderResult, ProviderFailure>> InertAnalysisProvider::analyze(
    AnalysisPass, AnalysisRubric, QList<SpeakerTurn>, std::optional<LiveAnalysisContext>, QUuid) const
{
    co_return std::unexpected(ProviderFailure(LiveCoachingError::notRequested));
}

} // namespace lumora
