#include "domain/CheckinPackSource.hpp"

namespace lumora {

QString toString(CheckinPackSource value)
{
    switch (value) {
    case CheckinPackSource::model:
        return QStringLiteral("model");
    case CheckinPackSource::fallback:
        return QStringLiteral("fallback");
    }
    return {};
}

} // namespace lumora
