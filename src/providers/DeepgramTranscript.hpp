#pragma once

#include "domain/SpeakerTurn.hpp"

#include <QList>

namespace lumora {

// The final transcription of a recorded file: its duration and the diarized turns.
struct DeepgramTranscript {
    double duration = 0;
    QList<SpeakerTurn> turns;

    bool operator==(const DeepgramTranscript&) const = default;
};

} // namespace lumora
