#pragma once

#include "domain/EnumText.hpp"

#include <array>

namespace lumora {

// A process foul that the analysis service attaches to a turn.
enum class ProcessFoul {
    kitchenSinking,
    globalizing,
    dredgingPast,
    mindReading,
};

template <> struct EnumTraits<ProcessFoul> {
    static constexpr std::array allCases { ProcessFoul::kitchenSinking, ProcessFoul::globalizing,
        ProcessFoul::dredgingPast, ProcessFoul::mindReading };
};

QString toString(ProcessFoul value);

} // namespace lumora
