#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

namespace lumora {

// Turns microphone samples (floats, nominally -1...1) into the live stream's 16-bit mono PCM.
struct PcmConversion {
    // Clamped to -1...1 (NaN counts as 1), scaled by 32767 and truncated toward zero: the
    // output range is -32767...32767.
    static qint16 sample(float value);

    // One block of frameLength signed 16-bit little-endian samples from channel 0. Without
    // float channel data there is no block; 0 frames give an empty block.
    static std::optional<QByteArray> block(const float* channel0, qsizetype frameLength);
};

} // namespace lumora
