#pragma once

#include <QString>

namespace lumora {

// One step of the guided conversation: what it asks of both partners and a sentence
// opening that either of them can use.
struct ConversationAgendaStep {
    qint64 id = 0;
    QString name;
    QString guidance;
    QString starter;

    bool operator==(const ConversationAgendaStep&) const = default;
};

} // namespace lumora
