#pragma once

#include "audio/NativeAudioCaptureError.hpp"

#include <expected>
#include <qcoro/qcorotask.h>

namespace lumora {

// Whether the conversation may record: the desktop has no permission prompt, so access is
// granted when the sound server offers a microphone and it opens. `noMicrophone` when there is
// no sound server or it offers none, `microphoneDidNotStart` when it does not open.
//
// Qt connects to the sound server once, the first time anything asks for its devices, and
// never again: asked while no server runs, it would find no microphone until the application
// restarts. So the server is asked first, and Qt only once it answers; each request looks anew.
struct MicrophoneAccess {
    // Checks on threads of their own, as a hung server takes two seconds to give up on and the
    // first opening on a sound server can take seconds too.
    [[nodiscard]] static QCoro::Task<std::expected<void, NativeAudioCaptureError>> request();
    // The check of an answering server's microphone, on the calling thread.
    [[nodiscard]] static std::expected<void, NativeAudioCaptureError> check();
};

} // namespace lumora
