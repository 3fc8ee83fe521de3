#pragma once

#include <QtGlobal>

namespace lumora {

// One point of the emotional arc: conversation time in seconds and a score from -4 to 4,
// positive being warm.
struct EmotionalArcPoint {
    qint64 id = 0;
    double time = 0;
    double score = 0;

    bool operator==(const EmotionalArcPoint&) const = default;
};

} // namespace lumora
