#pragma once

namespace lumora {

// How urgently the partner holding the floor is asked to hand it over.
enum class TurnPromptLevel {
    first,
    final,
};

} // namespace lumora
