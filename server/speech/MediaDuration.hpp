#pragma once

#include <optional>
#include <string_view>

namespace lumora {

// The duration in seconds of an audio file held in memory (any container libavformat
// reads: .m4a, .wav, ...), or none when it cannot be read as one.
std::optional<double> mediaDuration(std::string_view bytes);

} // namespace lumora
