#pragma once

#include "domain/EnumText.hpp"

#include <array>

namespace lumora {

// The phase of one recording session.
enum class SessionPhase {
    idle,
    ready,
    authorizing,
    recording,
    finalizing,
    complete,
    failed,
};

template <> struct EnumTraits<SessionPhase> {
    static constexpr std::array allCases { SessionPhase::idle, SessionPhase::ready, SessionPhase::authorizing,
        SessionPhase::recording, SessionPhase::finalizing, SessionPhase::complete, SessionPhase::failed };
};

QString toString(SessionPhase value);

} // namespace lumora
