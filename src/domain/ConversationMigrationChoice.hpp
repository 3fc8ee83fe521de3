#pragma once

#include "domain/EnumText.hpp"

#include <array>

namespace lumora {

// The user's one-time answer to the offer to add earlier local conversations to the account.
enum class ConversationMigrationChoice {
    accepted,
    declined,
};

template <> struct EnumTraits<ConversationMigrationChoice> {
    static constexpr std::array allCases { ConversationMigrationChoice::accepted,
        ConversationMigrationChoice::declined };
};

QString toString(ConversationMigrationChoice value);

} // namespace lumora
