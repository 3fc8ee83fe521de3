#pragma once

#include "domain/SpeakerStats.hpp"
#include "domain/SpeakerTurn.hpp"

#include <QList>

namespace lumora {

// Per-seat statistics of a transcript, from its grouped turns.
struct ConversationStats {
    static QList<SpeakerStats> compute(const QList<SpeakerTurn>& turns);
};

} // namespace lumora
