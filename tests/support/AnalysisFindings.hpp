#pragma once

#include "wire/AnalysisProviderResult.hpp"

#include <QStringList>

namespace lumora::testing {

// "turn:code" for each annotation, then each foul, in the result's order.
inline QStringList findings(const AnalysisProviderResult& result)
{
    QStringList found;
    for (const BehaviorAnnotation& a : result.annotations)
        found << QStringLiteral("%1:%2").arg(a.turnIndex).arg(toString(a.code));
    for (const ProcessFoulAnnotation& f : result.fouls.value_or(QList<ProcessFoulAnnotation> {}))
        found << QStringLiteral("%1:%2").arg(f.turnIndex).arg(toString(f.foul));
    return found;
}

} // namespace lumora::testing
