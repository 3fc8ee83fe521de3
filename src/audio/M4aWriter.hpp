#pragma once

#include "audio/NativeAudioCaptureError.hpp"

#include <QString>
#include <expected>
#include <memory>
#include <span>

namespace lumora {

// Writes mono float samples at the microphone's rate as AAC-LC, 44100 Hz, mono, into an MP4
// container. The file is created with mode 0600, so not even its first bytes are readable by
// others. Not thread-safe: one thread writes and finishes.
class M4aWriter {
public:
    static constexpr int outputSampleRate = 44100;
    // Plenty for speech, and a small file to upload for the final transcription.
    static constexpr qint64 bitRate = 64000;

    // Creates (or empties) the file; a path that names anything but a regular file, or a
    // symbolic link, is refused.
    [[nodiscard]] static std::expected<std::unique_ptr<M4aWriter>, NativeAudioCaptureError> create(
        const QString& path, int inputSampleRate);

    ~M4aWriter();
    M4aWriter(const M4aWriter&) = delete;
    M4aWriter& operator=(const M4aWriter&) = delete;

    // Resamples and encodes; false once anything could not be written (nothing is written
    // after that).
    [[nodiscard]] bool write(std::span<const float> samples);
    // Encodes what is buffered, drains the encoder, writes the MP4 trailer and closes the
    // file; true when every byte reached it.
    [[nodiscard]] bool finish();
    // Closes the file without finishing it and removes it while the path still names it.
    void discard();
    // Whether the path still names the file being written (false once its folder is gone).
    [[nodiscard]] bool isInPlace() const;

    struct State;

private:
    explicit M4aWriter(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace lumora
