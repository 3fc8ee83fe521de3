#include "domain/ProcessFoul.hpp"

namespace lumora {

QString toString(ProcessFoul value)
{
    switch (value) {
    case ProcessFoul::kitchenSinking:
        return QStringLiteral("kitchen_sinking");
    case ProcessFoul::globalizing:
        return QStringLiteral("globalizing");
    case ProcessFoul::dredgingPast:
        return QStringLiteral("dredging_past");
    case ProcessFoul::mindReading:
        return QStringLiteral("mind_reading");
    }
    return {};
}

} // namespace lumora
