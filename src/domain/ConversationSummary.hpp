#pragma once

#include "domain/BehaviorAnnotation.hpp"
#include "domain/ProcessFoulAnnotation.hpp"
#include "domain/SpeakerTurn.hpp"

#include <QList>
#include <QString>

namespace lumora {

// The summary of a conversation counted as its review's card counts it: the turns as they are
// grouped for the seats, the moments that reach the signals' confidence floor, then whether the
// opening was harsh and whether the same point came up again. The rule-based analysis writes it
// for what it is asked about, and a review made of what was heard live for its whole conversation.
struct ConversationSummary {
    static QString counted(const QList<SpeakerTurn>& turns, const QList<BehaviorAnnotation>& annotations,
        const QList<ProcessFoulAnnotation>& fouls, bool harshOpening, bool samePointAgain);
};

} // namespace lumora
