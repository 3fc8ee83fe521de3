#pragma once

#include "domain/DerivedSessionResult.hpp"

namespace lumora {

// A check-in is not judged: its review is stored without behaviour codes, fouls or a verdict
// on how it started.
struct CheckinReview {
    // A copy in check-in mode with no annotations, an empty (present) list of fouls and no
    // harsh start-up flag; everything else unchanged.
    static DerivedSessionResult gentled(DerivedSessionResult review);
};

} // namespace lumora
