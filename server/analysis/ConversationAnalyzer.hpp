#pragma once

#include "wire/AnalysisProviderPayload.hpp"
#include "wire/AnalysisProviderResult.hpp"
#include "wire/ConversationNudge.hpp"
#include "wire/NudgeProviderPayload.hpp"

#include <expected>

namespace lumora {

enum class AnalyzerError {
    unknownRubric, // the request names a rubric this analyzer does not apply
};

// The error code a refused request answers with.
QString errorCode(AnalyzerError error);

// Analyses conversations for the analysis and nudge endpoints. The control plane holds
// one behind this interface, so a model-backed analyzer can replace the built-in one by
// configuration.
class ConversationAnalyzer {
public:
    // The rubric version of coaching requests.
    static constexpr const char* nudgeRubricVersion = NudgeProviderPayload::coachingRubricVersion;

    virtual ~ConversationAnalyzer() = default;
    virtual std::expected<AnalysisProviderResult, AnalyzerError> analyze(
        const AnalysisProviderPayload& request) const = 0;
    virtual std::expected<ConversationNudge, AnalyzerError> nudge(
        const NudgeProviderPayload& request) const = 0;
};

} // namespace lumora
