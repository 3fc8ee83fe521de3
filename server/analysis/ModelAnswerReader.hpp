#pragma once

#include "analysis/ModelService.hpp"
#include "wire/AnalysisProviderPayload.hpp"
#include "wire/AnalysisProviderResult.hpp"
#include "wire/AnalysisRubric.hpp"
#include "wire/ConversationNudge.hpp"

#include <expected>

namespace lumora {

// Reads a model's answer into the records the endpoints reply with, trusting nothing in
// it: codes and fouls only from their enumerations, turn indexes inside the request,
// confidences in 0...1, texts within their limits. A finding that breaks a rule is
// dropped; an answer that is not the JSON object asked for, or lacks what the reply
// requires, is unreadable (the error says why, without quoting the answer).
namespace modelanswer {

// Length limits, in UTF-16 units, of the texts taken from an answer.
inline constexpr qsizetype titleLimit = 120;
inline constexpr qsizetype summaryLimit = 1000;
inline constexpr qsizetype noteLimit = 400;
inline constexpr qsizetype nudgeLineLimit = 240;
inline constexpr qsizetype maximumNudgeLines = 3;
inline constexpr qsizetype nudgeTitleLimit = 80;
inline constexpr qsizetype guidanceLimit = 400;
inline constexpr qsizetype suggestedWordsLimit = 300;
inline constexpr qsizetype modelNameLimit = 200;

// Speaker, start and end of each finding come from the request's turn, not the answer.
std::expected<AnalysisProviderResult, std::string> readAnalysis(
    const ModelAnswer& answer, const AnalysisProviderPayload& request, AnalysisRubric rubric);
std::expected<ConversationNudge, std::string> readNudge(const ModelAnswer& answer);

} // namespace modelanswer

} // namespace lumora
