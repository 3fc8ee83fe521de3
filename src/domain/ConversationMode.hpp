#pragma once

#include "domain/EnumText.hpp"

#include <array>

namespace lumora {

// A guided conversation or a weekly check-in.
enum class ConversationMode {
    conversation,
    checkin,
};

template <> struct EnumTraits<ConversationMode> {
    static constexpr std::array allCases { ConversationMode::conversation, ConversationMode::checkin };
};

QString toString(ConversationMode value);

} // namespace lumora
