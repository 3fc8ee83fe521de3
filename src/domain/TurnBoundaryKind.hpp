#pragma once

namespace lumora {

// Whether the other partner's utterance only interrupts the floor or takes it over.
enum class TurnBoundaryKind {
    interjection,
    handoff,
};

} // namespace lumora
