#pragma once

#include "domain/BehaviorAnnotation.hpp"
#include "domain/EmotionalArcPoint.hpp"
#include "domain/ProcessFoulAnnotation.hpp"

#include <QList>
#include <optional>

namespace lumora {

// The numbers the rooms, the review sheet and the people page show about a conversation,
// computed in one place so that they always agree. Only annotations and fouls of at least
// the signals' confidence floor count.
struct ConversationPresentation {
    struct WarmHard {
        qint64 warm = 0;
        qint64 hard = 0;

        bool operator==(const WarmHard&) const = default;
    };

    // Counts everyone's moments when no speaker is given; the speaker is compared with the
    // annotations' own speaker values, not mapped to a seat.
    static WarmHard warmHard(const QList<BehaviorAnnotation>& annotations,
        const QList<ProcessFoulAnnotation>& fouls, std::optional<qint64> speaker);
    // Starts at (0, 0), moves with every moment in time order (earlier moments fading by a
    // constant factor) and ends at the conversation's end. Moments whose start is not a
    // number cannot be placed in time and are left out.
    static QList<EmotionalArcPoint> arc(const QList<BehaviorAnnotation>& annotations,
        const QList<ProcessFoulAnnotation>& fouls, double duration);
};

} // namespace lumora
