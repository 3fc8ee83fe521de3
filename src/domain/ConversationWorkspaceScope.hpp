#pragma once

#include "domain/EnumText.hpp"

#include <array>

namespace lumora {

// Whether an account conversation belongs to the present partner workspace or to one the
// user belonged to before.
enum class ConversationWorkspaceScope {
    current,
    previous,
};

template <> struct EnumTraits<ConversationWorkspaceScope> {
    static constexpr std::array allCases { ConversationWorkspaceScope::current,
        ConversationWorkspaceScope::previous };
};

QString toString(ConversationWorkspaceScope value);

} // namespace lumora
