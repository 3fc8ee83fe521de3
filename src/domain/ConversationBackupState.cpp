#include "domain/ConversationBackupState.hpp"

namespace lumora {

QString toString(ConversationBackupState value)
{
    switch (value) {
    case ConversationBackupState::pending:
        return QStringLiteral("pending");
    case ConversationBackupState::stored:
        return QStringLiteral("stored");
    case ConversationBackupState::abandoned:
        return QStringLiteral("abandoned");
    case ConversationBackupState::declined:
        return QStringLiteral("declined");
    }
    return {};
}

} // namespace lumora
