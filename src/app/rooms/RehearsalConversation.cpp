#include "RehearsalConversation.hpp"

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

template <typename Finding> QList<Finding> ofFirst(const QList<Finding>& all, qsizetype count)
{
    QList<Finding> shown;
    for (const Finding& finding : all) {
        if (finding.turnIndex < count)
            shown.append(finding);
    }
    return shown;
}

} // namespace

int RehearsalConversation::step(double time)
{
    static constexpr double bounds[] = { 22, 63, 82, 102, 122 };
    int step = 0;
    for (const double bound : bounds) {
        if (time < bound)
            break;
        ++step;
    }
    return step;
}

qsizetype RehearsalConversation::turnCount(double time)
{
    const QList<SpeakerTurn>& script = DemoConversation::turns();
    return std::count_if(
        script.cbegin(), script.cend(), [time](const SpeakerTurn& turn) { return turn.end <= time; });
}

double RehearsalConversation::advanced(double time)
{
    return std::min(std::round((time + secondsPerTick) * 10) / 10, endOfScript);
}

QList<BehaviorAnnotation> RehearsalConversation::annotationsOfFirst(qsizetype count)
{
    return ofFirst(DemoConversation::annotations(), count);
}

QList<ProcessFoulAnnotation> RehearsalConversation::foulsOfFirst(qsizetype count)
{
    return ofFirst(DemoConversation::fouls(), count);
}

} // namespace lumora
