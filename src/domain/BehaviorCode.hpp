#pragma once

#include "domain/EnumText.hpp"

#include <array>

namespace lumora {

// A behaviour code that the analysis service attaches to a turn.
enum class BehaviorCode {
    criticism,
    contempt,
    defensiveness,
    stonewalling,
    repair,
    positive,
};

template <> struct EnumTraits<BehaviorCode> {
    static constexpr std::array allCases { BehaviorCode::criticism, BehaviorCode::contempt,
        BehaviorCode::defensiveness, BehaviorCode::stonewalling, BehaviorCode::repair,
        BehaviorCode::positive };
};

QString toString(BehaviorCode value);

// Repair and positive are warm; every other code is hard.
bool isWarm(BehaviorCode code);

} // namespace lumora
