#include "domain/ConversationMode.hpp"

namespace lumora {

QString toString(ConversationMode value)
{
    switch (value) {
    case ConversationMode::conversation:
        return QStringLiteral("conversation");
    case ConversationMode::checkin:
        return QStringLiteral("checkin");
    }
    return {};
}

} // namespace lumora
