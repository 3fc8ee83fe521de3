#include "domain/ProcessFoulPresentation.hpp"

namespace lumora {

QString displayName(ProcessFoul foul)
{
    switch (foul) {
    case ProcessFoul::kitchenSinking:
        return QStringLiteral("Piling on");
    case ProcessFoul::globalizing:
        return QStringLiteral("Always / never");
    case ProcessFoul::dredgingPast:
        return QStringLiteral("Old wound");
    case ProcessFoul::mindReading:
        return QStringLiteral("Story-making");
    }
    return {};
}

QString coachingTitle(ProcessFoul foul)
{
    switch (foul) {
    case ProcessFoul::kitchenSinking:
        return QStringLiteral("One hurt at a time");
    case ProcessFoul::globalizing:
        return QStringLiteral("One moment, not a verdict");
    case ProcessFoul::dredgingPast:
        return QStringLiteral("That’s an old wound");
    case ProcessFoul::mindReading:
        return QStringLiteral("That’s your story about them");
    }
    return {};
}

QString coachingBody(ProcessFoul foul)
{
    switch (foul) {
    case ProcessFoul::kitchenSinking:
        return QStringLiteral("Stay with the one hurt that started the cycle tonight.");
    case ProcessFoul::globalizing:
        return QStringLiteral("Shrink “always” or “never” back to the one moment that hurt.");
    case ProcessFoul::dredgingPast:
        return QStringLiteral("Give the old wound its own care; stay with what just happened.");
    case ProcessFoul::mindReading:
        return QStringLiteral("Trade the story for a question: “what was happening for you?”");
    }
    return {};
}

} // namespace lumora
