#include "domain/BehaviorCodePresentation.hpp"

namespace lumora {

QString displayName(BehaviorCode code)
{
    switch (code) {
    case BehaviorCode::criticism:
        return QStringLiteral("Protest");
    case BehaviorCode::contempt:
        return QStringLiteral("Wounding");
    case BehaviorCode::defensiveness:
        return QStringLiteral("Defending");
    case BehaviorCode::stonewalling:
        return QStringLiteral("Withdrawing");
    case BehaviorCode::repair:
        return QStringLiteral("Turning toward");
    case BehaviorCode::positive:
        return QStringLiteral("Connection");
    }
    return {};
}

std::optional<QString> coachingTitle(BehaviorCode code)
{
    switch (code) {
    case BehaviorCode::criticism:
        return QStringLiteral("There’s a longing under that");
    case BehaviorCode::contempt:
        return QStringLiteral("That was meant to wound");
    case BehaviorCode::defensiveness:
        return QStringLiteral("The guard came up");
    case BehaviorCode::stonewalling:
        return QStringLiteral("You just deactivated");
    case BehaviorCode::repair:
        return QStringLiteral("That was a turn toward — and it landed");
    case BehaviorCode::positive:
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<QString> coachingBody(BehaviorCode code)
{
    switch (code) {
    case BehaviorCode::criticism:
        return QStringLiteral("Say the reach, not the attack: “I miss you — can we…?”");
    case BehaviorCode::contempt:
        return QStringLiteral("Reach for what you need instead of what will hurt.");
    case BehaviorCode::defensiveness:
        return QStringLiteral("Let one true thing land: “You’re right about…”");
    case BehaviorCode::stonewalling:
        return QStringLiteral("Even “I need a minute — I’m not leaving” keeps connection alive.");
    case BehaviorCode::repair:
        return QStringLiteral("Turning toward in the middle of the cycle is the whole move.");
    case BehaviorCode::positive:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace lumora
