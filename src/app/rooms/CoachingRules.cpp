#include "CoachingRules.hpp"

#include "domain/BehaviorCodePresentation.hpp"

namespace lumora {

std::optional<BehaviorCode> CoachingRules::latestCoach(
    const QList<BehaviorAnnotation>& annotations, qint64 side)
{
    for (auto annotation = annotations.crbegin(); annotation != annotations.crend(); ++annotation) {
        if (annotation->speaker == side && annotation->code != BehaviorCode::positive)
            return annotation->code;
    }
    return std::nullopt;
}

CoachNudge CoachingRules::genericStarter(
    std::optional<BehaviorCode> latest, const QString& suggestion, const QString& starter)
{
    CoachNudge nudge;
    nudge.title = latest.and_then(coachingTitle).value_or(QStringLiteral("Your next move"));
    nudge.guidance = !suggestion.isEmpty()
        ? suggestion
        : latest.and_then(coachingBody)
              .value_or(
                  QStringLiteral("Stay with the current step and make one clear move before adding more."));
    nudge.suggestedWords = starter;
    return nudge;
}

bool CoachingRules::canGetUnstuck(bool active, bool hasTurns, bool loading, bool rehearsal)
{
    return active && hasTurns && !loading && !rehearsal;
}

QString CoachingRules::getUnstuckLabel(bool loading)
{
    return loading ? QStringLiteral("Reading the thread…") : QStringLiteral("Get unstuck");
}

CoachingRules::PopoverState CoachingRules::popoverState(bool loading, const CoachNudge& nudge)
{
    if (loading)
        return Loading;
    return nudge.isEmpty() ? GenericStarter : ProviderNudge;
}

QString CoachingRules::headerSymbol(PopoverState state)
{
    return state == Loading ? QStringLiteral("ellipsis") : QStringLiteral("sparkles");
}

QString CoachingRules::caption(PopoverState state)
{
    switch (state) {
    case Loading:
        return QStringLiteral("reading");
    case ProviderNudge:
        return QStringLiteral("right now");
    case GenericStarter:
        break;
    }
    return QStringLiteral("a place to start");
}

CoachNudge CoachingRules::shownNudge(PopoverState state, const CoachNudge& nudge, const CoachNudge& starter)
{
    switch (state) {
    case Loading:
        return {};
    case ProviderNudge:
        return nudge;
    case GenericStarter:
        break;
    }
    return starter;
}

QString CoachingRules::title(PopoverState state, const CoachNudge& nudge, const CoachNudge& starter)
{
    return state == Loading ? QStringLiteral("Reading the conversation…")
                            : shownNudge(state, nudge, starter).title;
}

QString CoachingRules::quoted(const QString& words)
{
    return QStringLiteral("\u201C%1\u201D").arg(words);
}

} // namespace lumora
