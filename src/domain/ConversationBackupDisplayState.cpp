#include "domain/ConversationBackupDisplayState.hpp"

namespace lumora {

QString toString(ConversationBackupDisplayState value)
{
    switch (value) {
    case ConversationBackupDisplayState::backedUp:
        return QStringLiteral("backedUp");
    case ConversationBackupDisplayState::waiting:
        return QStringLiteral("waiting");
    case ConversationBackupDisplayState::onlyOnThisMac:
        return QStringLiteral("onlyOnThisMac");
    }
    return {};
}

} // namespace lumora
