#pragma once

#include <QtGlobal>

namespace lumora {

// The seat of a speaker index: |s| mod 2, 0 the left seat and 1 the right one.
// Taking the remainder first keeps the smallest 64-bit value defined.
constexpr qint64 seatOf(qint64 speaker)
{
    const qint64 remainder = speaker % 2;
    return remainder < 0 ? -remainder : remainder;
}

// The remainder by 2 with the speaker's sign (0, 1 or -1), as speech clients store it.
constexpr qint64 signedSpeakerRemainder(qint64 speaker)
{
    return speaker % 2;
}

} // namespace lumora
