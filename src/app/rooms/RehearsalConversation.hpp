#pragma once

#include "domain/DemoConversation.hpp"

#include <QList>

namespace lumora {

// The rules of the clock by which "Watch a rehearsal" plays the scripted conversation
// (`DemoConversation`). Times are script seconds; nothing of it is sent, recorded or saved.
struct RehearsalConversation {
    // Wall time between ticks, and script time each tick moves on.
    static constexpr int tickMilliseconds = 250;
    static constexpr double secondsPerTick = 0.6;
    // The clock stops here; the last turn ends at `endedAt`, from which the rehearsal reads as
    // complete.
    static constexpr double endOfScript = 143;
    static constexpr double endedAt = 141;
    // The one break: at the first tick at or past this time.
    static constexpr double breakAt = 47;

    // The agenda step the script is on at `time`.
    static int step(double time);
    // How many turns have ended by `time`.
    static qsizetype turnCount(double time);
    // The script time after one tick from `time`: 0.6 later, kept on whole tenths so that the
    // steps and turns fall on the ticks that reach them, and never past the end.
    static double advanced(double time);
    // The annotations and fouls of the first `count` turns, in script order.
    static QList<BehaviorAnnotation> annotationsOfFirst(qsizetype count);
    static QList<ProcessFoulAnnotation> foulsOfFirst(qsizetype count);
};

} // namespace lumora
