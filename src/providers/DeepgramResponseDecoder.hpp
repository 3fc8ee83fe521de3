#pragma once

#include "domain/JsonDecodeError.hpp"
#include "providers/DeepgramTranscript.hpp"

#include <QByteArray>
#include <expected>

namespace lumora {

// Reads the speech provider's reply to a pre-recorded transcription request.
struct DeepgramResponseDecoder {
    // The transcript of one reply body: the words of the first channel's first alternative
    // joined into turns while the seat stays the same, and the reply's duration (else the
    // last turn's end, else 0). A body without "metadata" or "results", or with a required
    // field missing or mistyped, fails.
    //
    // The seat here is the speaker index's remainder by 2 with its sign kept (speaker -1
    // gives -1), unlike the live rule, which takes the absolute value: the stored
    // transcripts were made this way.
    [[nodiscard]] static std::expected<DeepgramTranscript, JsonDecodeError> decode(const QByteArray& data);
};

} // namespace lumora
