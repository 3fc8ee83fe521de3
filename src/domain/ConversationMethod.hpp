#pragma once

#include "domain/ConversationAgendaStep.hpp"

#include <QList>

namespace lumora {

// The guided method the live room walks the partners through.
struct ConversationMethod {
    // The six steps, ids 0 to 5 in order; built once, never changed.
    static const QList<ConversationAgendaStep>& agenda();
};

} // namespace lumora
