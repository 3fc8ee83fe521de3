#include "audio/PcmConversion.hpp"

namespace lumora {

qint16 PcmConversion::sample(float value)
{
    // Written so that a NaN, which fails the comparison, lands on 1.0.
    const float clamped = value < 1.0f ? (value > -1.0f ? value : -1.0f) : 1.0f;
    return static_cast<qint16>(clamped * 32767.0f);
}

std::optional<QByteArray> PcmConversion::block(const float* channel0, qsizetype frameLength)
{
    if (channel0 == nullptr)
        return std::nullopt;
    QByteArray bytes(frameLength * 2, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(bytes.data());
    for (qsizetype i = 0; i < frameLength; ++i) {
        const auto value = static_cast<quint16>(sample(channel0[i]));
        out[2 * i] = static_cast<unsigned char>(value & 0xff);
        out[2 * i + 1] = static_cast<unsigned char>(value >> 8);
    }
    return bytes;
}

} // namespace lumora
