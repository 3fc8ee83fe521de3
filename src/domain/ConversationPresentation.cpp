#include "domain/ConversationPresentation.hpp"

#include "domain/ConversationSignals.hpp"

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

constexpr double arcDecay = 0.82;
constexpr double arcLimit = 4.0;

// The larger of two times, ignoring one that is not a number.
double laterTime(double a, double b)
{
    if (std::isnan(a))
        return b;
    if (std::isnan(b))
        return a;
    return std::max(a, b);
}

struct ArcEvent {
    double start;
    double end;
    double weight;
};

} // namespace

ConversationPresentation::WarmHard ConversationPresentation::warmHard(
    const QList<BehaviorAnnotation>& annotations, const QList<ProcessFoulAnnotation>& fouls,
    std::optional<qint64> speaker)
{
    auto kept = [&](double confidence, qint64 by) {
        return ConversationSignals::meetsConfidenceFloor(confidence) && (!speaker || by == *speaker);
    };
    WarmHard result;
    for (const BehaviorAnnotation& annotation : annotations) {
        if (kept(annotation.confidence, annotation.speaker))
            ++(isWarm(annotation.code) ? result.warm : result.hard);
    }
    for (const ProcessFoulAnnotation& foul : fouls) {
        if (kept(foul.confidence, foul.speaker))
            ++result.hard;
    }
    return result;
}

QList<EmotionalArcPoint> ConversationPresentation::arc(
    const QList<BehaviorAnnotation>& annotations, const QList<ProcessFoulAnnotation>& fouls, double duration)
{
    QList<ArcEvent> events;
    for (const BehaviorAnnotation& annotation : annotations) {
        if (ConversationSignals::meetsConfidenceFloor(annotation.confidence) && !std::isnan(annotation.start))
            events.append({ annotation.start, annotation.end, isWarm(annotation.code) ? 1.0 : -1.0 });
    }
    for (const ProcessFoulAnnotation& foul : fouls) {
        if (ConversationSignals::meetsConfidenceFloor(foul.confidence) && !std::isnan(foul.start))
            events.append({ foul.start, foul.end, -1.0 });
    }
    // Stable: moments with equal starts keep annotations before fouls, each in list order.
    std::stable_sort(
        events.begin(), events.end(), [](const ArcEvent& a, const ArcEvent& b) { return a.start < b.start; });

    QList<EmotionalArcPoint> points;
    points.reserve(events.size() + 2);
    points.append({ .id = 0, .time = 0, .score = 0 });
    double score = 0;
    for (const ArcEvent& event : events) {
        score = std::clamp(score * arcDecay + event.weight, -arcLimit, arcLimit);
        points.append({ .id = points.size(), .time = event.start, .score = score });
    }

    // The arc ends at the conversation's end, or later when the last moment runs past it;
    // a time that is not a number is ignored so that the arc never ends nowhere.
    double endTime = laterTime(duration, events.isEmpty() ? 0.0 : events.last().end);
    if (std::isnan(endTime))
        endTime = points.last().time;
    points.append({ .id = points.size(), .time = endTime, .score = score });
    return points;
}

} // namespace lumora
