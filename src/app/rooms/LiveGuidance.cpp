#include "LiveGuidance.hpp"

#include "domain/ConversationSignals.hpp"
#include "domain/Seat.hpp"

namespace lumora {

LiveGuidance::Overlay LiveGuidance::overlay(bool showBreak, bool showCircularity, bool hasFloorPrompt)
{
    if (showBreak)
        return Overlay::pause;
    if (showCircularity)
        return Overlay::cycle;
    return hasFloorPrompt ? Overlay::floor : Overlay::none;
}

std::optional<LiveGuidance::FloorPrompt> LiveGuidance::floorPrompt(const QList<SpeakerTurn>& turns,
    double elapsed, bool isRecording, std::optional<double> firstShownAt, bool turnExtensionUsed,
    bool dismissedFinalFloor)
{
    if (!isRecording || turns.isEmpty())
        return std::nullopt;
    const qint64 holder = turns.constLast().speaker;
    qsizetype first = turns.size() - 1;
    while (first > 0 && turns.at(first - 1).speaker == holder)
        --first;
    const double held = elapsed - turns.at(first).start;
    constexpr double extraMinute
        = ConversationSignals::finalTurnPromptSeconds - ConversationSignals::firstTurnPromptSeconds;
    if (held >= ConversationSignals::finalTurnPromptSeconds && !dismissedFinalFloor && firstShownAt
        && elapsed >= *firstShownAt + extraMinute)
        return FloorPrompt { holder, true };
    if (held >= ConversationSignals::firstTurnPromptSeconds && !turnExtensionUsed)
        return FloorPrompt { holder, false };
    return std::nullopt;
}

QString LiveGuidance::floorName(qint64 holder)
{
    return seatOf(holder) == 0 ? QStringLiteral("Speaker 2") : QStringLiteral("Speaker 1");
}

LiveGuidance::CycleSignal LiveGuidance::cycleSignal(
    const std::optional<CircularityEvidence>& evidence, bool localFinding)
{
    const bool provider = evidence && evidence->detected && evidence->confidence >= evidenceThreshold;
    return { provider || localFinding, provider ? evidence->confidence : evidenceThreshold };
}

QString LiveGuidance::cycleRationale(const std::optional<CircularityEvidence>& evidence)
{
    return evidence ? evidence->rationale : QString();
}

QString LiveGuidance::cycleOpening(const std::optional<CircularityEvidence>& evidence)
{
    if (evidence && !evidence->resetSuggestion.isEmpty())
        return evidence->resetSuggestion;
    return QStringLiteral("\u201cUnderneath this, what I\u2019m really trying to tell you is\u2026\u201d");
}

} // namespace lumora
