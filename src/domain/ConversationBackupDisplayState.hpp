#pragma once

#include "domain/EnumText.hpp"

#include <array>

namespace lumora {

// The backup badge of a history row.
enum class ConversationBackupDisplayState {
    // The account holds the conversation.
    backedUp,
    // An upload is pending.
    waiting,
    // Only this computer has it.
    onlyOnThisMac,
};

template <> struct EnumTraits<ConversationBackupDisplayState> {
    static constexpr std::array allCases { ConversationBackupDisplayState::backedUp,
        ConversationBackupDisplayState::waiting, ConversationBackupDisplayState::onlyOnThisMac };
};

QString toString(ConversationBackupDisplayState value);

} // namespace lumora
