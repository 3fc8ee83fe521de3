#pragma once

#include "speech/SpeechScript.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace lumora {

// Replays a script against the audio clock of one live stream: as received PCM passes an
// utterance's words it sends interim results, and one final result once the utterance's
// end has passed. The close message finishes every utterance already begun.
class LiveTranscriber {
public:
    LiveTranscriber(const SpeechScript& script, int sampleRate);

    // The messages due after `bytes` more of 16-bit mono PCM.
    std::vector<std::string> addAudio(std::size_t bytes);
    // The last results and the closing metadata message.
    std::vector<std::string> closeStream();

    [[nodiscard]] double audioSeconds() const;
    // The whole samples received: a byte short of one is not yet a sample.
    [[nodiscard]] std::size_t samples() const { return m_bytes / 2; }

private:
    const SpeechScript& m_script;
    int m_sampleRate;
    std::size_t m_bytes = 0;
    qsizetype m_next = 0; // the first utterance without its final result
    qsizetype m_interimWords = 0; // words of that utterance already sent as interim
};

} // namespace lumora
