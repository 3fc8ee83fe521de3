#include "domain/SessionPhase.hpp"

namespace lumora {

QString toString(SessionPhase value)
{
    switch (value) {
    case SessionPhase::idle:
        return QStringLiteral("idle");
    case SessionPhase::ready:
        return QStringLiteral("ready");
    case SessionPhase::authorizing:
        return QStringLiteral("authorizing");
    case SessionPhase::recording:
        return QStringLiteral("recording");
    case SessionPhase::finalizing:
        return QStringLiteral("finalizing");
    case SessionPhase::complete:
        return QStringLiteral("complete");
    case SessionPhase::failed:
        return QStringLiteral("failed");
    }
    return {};
}

} // namespace lumora
