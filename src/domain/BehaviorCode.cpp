#include "domain/BehaviorCode.hpp"

namespace lumora {

QString toString(BehaviorCode value)
{
    switch (value) {
    case BehaviorCode::criticism:
        return QStringLiteral("criticism");
    case BehaviorCode::contempt:
        return QStringLiteral("contempt");
    case BehaviorCode::defensiveness:
        return QStringLiteral("defensiveness");
    case BehaviorCode::stonewalling:
        return QStringLiteral("stonewalling");
    case BehaviorCode::repair:
        return QStringLiteral("repair");
    case BehaviorCode::positive:
        return QStringLiteral("positive");
    }
    return {};
}

bool isWarm(BehaviorCode code)
{
    return code == BehaviorCode::repair || code == BehaviorCode::positive;
}

} // namespace lumora
