#pragma once

#include "RoomModel.hpp"

#include <QString>

namespace lumora {

// What the stage's primary button does, first that holds: end the rehearsal, finish the
// running conversation, open the setup sheet (agreement or sign-in missing), say the room is
// not ready, or start a conversation.
struct PrimaryAction {
    enum class Step { endRehearsal, finish, openSetup, notReady, start };

    static Step choose(bool rehearsalActive, bool isRecording, bool isPaused, RoomModel::Readiness readiness);
    // Both the error and the status line read this while the room is busy.
    static QString notReadyText()
    {
        return QStringLiteral(
            "Corvane is still getting the room ready. Try Start conversation again in a moment.");
    }
};

} // namespace lumora
