#pragma once

namespace lumora {

// Confidence limited to 0...1; not-a-number counts as no confidence.
constexpr double clampedConfidence(double confidence)
{
    if (!(confidence > 0.0))
        return 0.0;
    return confidence > 1.0 ? 1.0 : confidence;
}

} // namespace lumora
