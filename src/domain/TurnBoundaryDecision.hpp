#pragma once

#include "domain/TurnBoundaryKind.hpp"

namespace lumora {

// What one utterance of the other partner does to the floor, and how sure that is.
struct TurnBoundaryDecision {
    TurnBoundaryKind kind = TurnBoundaryKind::handoff;
    double confidence = 0;

    bool operator==(const TurnBoundaryDecision&) const = default;
};

} // namespace lumora
