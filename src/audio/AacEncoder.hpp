#pragma once

#include <cstdint>

namespace lumora {

// The AAC-LC encoding of a recording into an MP4 container, written through a file descriptor
// that the caller owns and keeps open until the encoder is gone. It lives in a module of its
// own (lumora_aac_encoder) that M4aWriter loads at the first recording, so that FFmpeg and the
// hundred libraries it brings are in memory only once a conversation has been recorded. Not
// thread-safe: one thread writes and finishes.
class AacEncoder {
public:
    virtual ~AacEncoder() = default;

    // Resamples and encodes mono float samples; false once anything could not be written.
    [[nodiscard]] virtual bool write(const float* samples, int count) = 0;
    // Encodes what is buffered, drains the encoder and writes the MP4 trailer; true when every
    // byte reached the file.
    [[nodiscard]] virtual bool finish() = 0;
};

// The module's one entry point: an encoder writing to `fd` (named `path`, for the container's
// own use) from `inputSampleRate` hertz, or null when it cannot be opened.
using CreateAacEncoder = AacEncoder* (*)(int fd, const char* path, int inputSampleRate, int outputSampleRate,
    std::int64_t bitRate);
inline constexpr const char* createAacEncoderSymbol = "lumora_create_aac_encoder";

} // namespace lumora
