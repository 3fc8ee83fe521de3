#pragma once

#include "wire/AnalysisProviderPayload.hpp"
#include "wire/AnalysisRubric.hpp"
#include "wire/NudgeProviderPayload.hpp"

#include <QString>

namespace lumora {

// The prompts the model-backed analyzer sends: a system prompt per rubric that fixes the
// JSON answer it expects, and the turns as a JSON user message (the conversation's words
// go only into the user message, never into the instructions).
namespace modelprompts {

QString analysisSystem(AnalysisRubric rubric);
QString analysisUser(const AnalysisProviderPayload& request);
QString nudgeSystem();
QString nudgeUser(const NudgeProviderPayload& request);

} // namespace modelprompts

} // namespace lumora
