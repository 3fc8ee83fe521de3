#pragma once

#include "audio/NativeAudioCaptureError.hpp"

#include <expected>
#include <qcoro/qcorotask.h>

namespace lumora {

// Whether the conversation may record: the desktop has no permission prompt, so access is
// granted when the sound server offers a microphone and it opens. `noMicrophone` when there is
// none, `microphoneDidNotStart` when it does not open.
struct MicrophoneAccess {
    // Checks on a thread of its own, as the first opening on a sound server can take seconds.
    [[nodiscard]] static QCoro::Task<std::expected<void, NativeAudioCaptureError>> request();
    // The same check on the calling thread.
    [[nodiscard]] static std::expected<void, NativeAudioCaptureError> check();
};

} // namespace lumora
