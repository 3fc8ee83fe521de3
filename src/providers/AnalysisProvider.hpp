#pragma once

#include "domain/SpeakerTurn.hpp"
#include "providers/LiveAnalysisContext.hpp"
#include "providers/ProviderFailure.hpp"
#include "wire/AnalysisPass.hpp"
#include "wire/AnalysisProviderResult.hpp"
#include "wire/AnalysisRubric.hpp"

#include <QList>
#include <QUuid>
#include <expected>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumora {

// Analyses a run of speaker turns: live batches during the conversation, and the final
// pass over the whole of it. Turn indexes in the result count from the first turn passed.
class AnalysisProvider {
public:
    virtual ~AnalysisProvider() = default;

    [[nodiscard]] virtual QCoro::Task<std::expected<AnalysisProviderResult, ProviderFailure>> analyze(
        AnalysisPass pass, AnalysisRubric rubric, QList<SpeakerTurn> turns,
        std::optional<LiveAnalysisContext> context, QUuid reservationID) const = 0;
};

} // namespace lumora
