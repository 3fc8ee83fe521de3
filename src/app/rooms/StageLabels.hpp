#pragma once

#include "domain/ConversationTurn.hpp"

#include <QList>
#include <QString>

namespace lumora {

// What the shared stage's buttons say and when they show, from the run flags.
struct StageLabels {
    struct Flags {
        bool rehearsalActive = false;
        bool rehearsalEnded = false;
        bool isStartingConversation = false;
        bool isRecording = false;
        bool isPaused = false;
        bool isProcessing = false;
        bool isCheckinOpening = false;
    };

    static QString primaryLabel(const Flags& flags);
    // The symbol name; the starting state comes before the rehearsal here.
    static QString primaryIcon(const Flags& flags);
    // What a screen reader names the button: as it reads, but "Starting conversation" for the
    // ellipsis.
    static QString primaryAccessibilityLabel(const Flags& flags);
    // The check-in and rehearsal entries show only while nothing runs.
    static bool showsEntryButtons(const Flags& flags);
    static QString checkinLabel(const Flags& flags);
    static bool showsPause(const Flags& flags);
    static QString pauseLabel(const Flags& flags);
    static QString pauseIcon(const Flags& flags);
    // The number of rows and the last row's piece count, "3-2": it changes once per new row
    // and once per new piece of the last row, which is when the transcript scrolls.
    static QString latestRowKey(const QList<ConversationTurn>& groups);
};

} // namespace lumora
