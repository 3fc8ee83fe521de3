#pragma once

#include "audio/NativeAudioCaptureError.hpp"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>
#include <expected>
#include <functional>
#include <qcoro/qcorotask.h>

namespace lumora {

class AudioInputWorker;

// Records the desktop's default microphone for one conversation at a time: each 4096-frame
// block of samples goes to the PCM handler as 16-bit little-endian mono at the microphone's own
// rate, and the same samples are written as AAC into the given ".m4a" file. The microphone and
// the encoder run on an audio thread of the capture's own; every member is called on the
// thread that created the capture, and the completion runs there too.
class NativeAudioCapture : public QObject {
    Q_OBJECT
public:
    // Called on the audio thread with each block; it must only hand the block on.
    using PcmHandler = std::function<void(const QByteArray& block)>;
    // Called once when the capture ends by itself: true at the granted length with the file
    // complete, false when the file or the microphone failed. Never called after stop().
    using Completion = std::function<void(bool successfully)>;

    static constexpr double maximumDuration = 3600.0;

    // Succeeds only for 0 < duration <= maximumDuration (a NaN fails).
    [[nodiscard]] static std::expected<void, NativeAudioCaptureError> validate(double duration);

    explicit NativeAudioCapture(QObject* parent = nullptr);
    ~NativeAudioCapture() override;

    // The microphone's own sample rate in hertz, which the PCM blocks carry; 0 without one. The
    // sound server is asked away from the caller's thread: one that hangs takes seconds to give
    // up on.
    [[nodiscard]] static QCoro::Task<double> inputSampleRate();
    // True while a capture runs and is not paused.
    [[nodiscard]] bool isRecording() const;
    // Seconds recorded into the file (pauses excluded); 0 while nothing runs.
    [[nodiscard]] double currentTime() const;

    // Opens the microphone and starts recording into audioPath (created with mode 0600) for
    // at most `duration` seconds. Opening the microphone happens on the audio thread: the
    // first opening on a sound server can take seconds, and the caller's thread stays free.
    [[nodiscard]] QCoro::Task<std::expected<void, NativeAudioCaptureError>> start(
        QString audioPath, double duration, PcmHandler pcmHandler = {}, Completion completion = {});
    void pause();
    [[nodiscard]] std::expected<void, NativeAudioCaptureError> resume();
    // Ends the capture; returns once the file is complete (encoder drained, trailer written).
    // The completion is dropped, not called. Does nothing when nothing runs.
    void stop();

private:
    void workerEnded(quint64 generation, bool successfully);
    void tearDown();
    template <typename Call> auto onAudioThread(Call call);

    QThread m_thread;
    AudioInputWorker* m_worker = nullptr;
    quint64 m_generation = 0;
    bool m_running = false;
    bool m_starting = false;
    bool m_stopWhileStarting = false;
    bool m_paused = false;
    bool m_explicitStop = false;
    Completion m_completion;
};

} // namespace lumora
