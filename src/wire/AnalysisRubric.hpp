#pragma once

#include "domain/ConversationMode.hpp"
#include "domain/EnumText.hpp"

#include <array>

namespace lumora {

// The rubric an analysis is asked to apply; the raw value is the rubric version sent.
enum class AnalysisRubric { conversation, checkin };

template <> struct EnumTraits<AnalysisRubric> {
    static constexpr std::array allCases { AnalysisRubric::conversation, AnalysisRubric::checkin };
};

QString toString(AnalysisRubric value);

// A guided conversation is coached live; a check-in is not.
bool runsLiveCoaching(ConversationMode mode);
AnalysisRubric analysisRubric(ConversationMode mode);

} // namespace lumora
