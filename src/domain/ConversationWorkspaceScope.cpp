#include "domain/ConversationWorkspaceScope.hpp"

namespace lumora {

QString toString(ConversationWorkspaceScope value)
{
    switch (value) {
    case ConversationWorkspaceScope::current:
        return QStringLiteral("current");
    case ConversationWorkspaceScope::previous:
        return QStringLiteral("previous");
    }
    return {};
}

} // namespace lumora
