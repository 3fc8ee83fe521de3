#pragma once

#include "domain/BehaviorAnnotation.hpp"
#include "domain/ProcessFoulAnnotation.hpp"
#include "domain/SpeakerTurn.hpp"

#include <QList>

namespace lumora {

// One scripted conversation of two fictional partners, "The Phone at Dinner": the rehearsal
// plays it and the smoke launch keeps it as its demo review. Times are script seconds.
struct DemoConversation {
    static const QList<SpeakerTurn>& turns();
    static const QList<BehaviorAnnotation>& annotations();
    static const QList<ProcessFoulAnnotation>& fouls();
};

} // namespace lumora
