#pragma once

namespace lumora {

enum class NativeAudioCaptureError {
    // start was called while a capture is running.
    alreadyRecording,
    // The duration is not within 0 < d <= 3600 seconds.
    invalidDuration,
    // The recording was refused, at start or at resume.
    recordingDidNotStart,
    // The sound server offers no microphone.
    noMicrophone,
    // The microphone could not be opened or started.
    microphoneDidNotStart,
    // The recording file could not be created, made private or prepared for AAC.
    fileNotCreated,
};

} // namespace lumora
