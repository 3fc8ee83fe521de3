#pragma once

#include "domain/EnumText.hpp"

#include <array>

namespace lumora {

// Where a check-in pack came from. Only a pack the control plane marks "model" is `model`;
// the built-in pack and anything else is `fallback`. Standing alone, only the two raw values
// read (`fromString`); inside a pack any other word reads as `fallback`.
enum class CheckinPackSource {
    model,
    fallback,
};

template <> struct EnumTraits<CheckinPackSource> {
    static constexpr std::array allCases { CheckinPackSource::model, CheckinPackSource::fallback };
};

QString toString(CheckinPackSource value);

} // namespace lumora
