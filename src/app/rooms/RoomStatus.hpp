#pragma once

#include <QString>

namespace lumora {

// The room's status word and the header's pill made of it.
struct RoomStatus {
    // What the room is doing, first that holds: "rehearsal ended" from 141 s of script time,
    // "rehearsal", "reading it back", "paused", "listening", or nothing.
    static QString word(
        bool rehearsalActive, double rehearsalElapsed, bool isProcessing, bool isPaused, bool isRecording);
    // The pill shows while a rehearsal is active or the room has a status word.
    static bool showsPill(bool rehearsalActive, const QString& word);
    // "Rehearsal complete" from 141 s, "Rehearsal" before; otherwise the word with each word's
    // first letter in capitals.
    static QString pillLabel(bool rehearsalActive, double rehearsalElapsed, const QString& word);
    // The dot is in the attention colour while the room is live and not paused.
    static bool dotIsLive(bool active, const QString& word);
    // The clock shows while the room is live or the view model processes.
    static bool showsClock(bool active, bool isProcessing);
};

} // namespace lumora
