#include "wire/AnalysisPass.hpp"

namespace lumora {

QString toString(AnalysisPass value)
{
    switch (value) {
    case AnalysisPass::live:
        return QStringLiteral("live");
    case AnalysisPass::final:
        return QStringLiteral("final");
    }
    return {};
}

} // namespace lumora
