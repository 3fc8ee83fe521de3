#include "wire/AnalysisRubric.hpp"

namespace lumora {

QString toString(AnalysisRubric value)
{
    switch (value) {
    case AnalysisRubric::conversation:
        return QStringLiteral("baseline-2026-07-17");
    case AnalysisRubric::checkin:
        return QStringLiteral("checkin-gentle-2026-08-19");
    }
    return {};
}

bool runsLiveCoaching(ConversationMode mode)
{
    return mode == ConversationMode::conversation;
}

AnalysisRubric analysisRubric(ConversationMode mode)
{
    return mode == ConversationMode::checkin ? AnalysisRubric::checkin : AnalysisRubric::conversation;
}

} // namespace lumora
