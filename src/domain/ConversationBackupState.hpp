#pragma once

#include "domain/EnumText.hpp"

#include <array>

namespace lumora {

// Where the account copy of one local review stands.
enum class ConversationBackupState {
    // Waiting for a first or a further upload attempt.
    pending,
    // The account history holds it.
    stored,
    // The server refused it for good; never retried automatically.
    abandoned,
    // The user keeps it only on this computer; never retried automatically.
    declined,
};

template <> struct EnumTraits<ConversationBackupState> {
    static constexpr std::array allCases { ConversationBackupState::pending, ConversationBackupState::stored,
        ConversationBackupState::abandoned, ConversationBackupState::declined };
};

QString toString(ConversationBackupState value);

} // namespace lumora
