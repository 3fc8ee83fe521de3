#pragma once

#include "domain/EnumText.hpp"

#include <array>

namespace lumora {

// Whether an analysis covers a live batch of turns or the whole finished conversation.
enum class AnalysisPass { live, final };

template <> struct EnumTraits<AnalysisPass> {
    static constexpr std::array allCases { AnalysisPass::live, AnalysisPass::final };
};

QString toString(AnalysisPass value);

} // namespace lumora
