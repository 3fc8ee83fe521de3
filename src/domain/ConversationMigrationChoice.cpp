#include "domain/ConversationMigrationChoice.hpp"

namespace lumora {

QString toString(ConversationMigrationChoice value)
{
    switch (value) {
    case ConversationMigrationChoice::accepted:
        return QStringLiteral("accepted");
    case ConversationMigrationChoice::declined:
        return QStringLiteral("declined");
    }
    return {};
}

} // namespace lumora
