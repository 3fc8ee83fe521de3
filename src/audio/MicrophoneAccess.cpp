#include "audio/MicrophoneAccess.hpp"

#include "audio/DefaultAudioInput.hpp"
#include "domain/OffThread.hpp"

#include <QAudioSource>
#include <QMediaDevices>
#include <QThread>
#include <memory>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcorothread.h>

namespace lumora {

std::expected<void, NativeAudioCaptureError> MicrophoneAccess::check()
{
    const std::optional<QAudioDevice> device = DefaultAudioInput::find();
    if (!device)
        return std::unexpected(NativeAudioCaptureError::noMicrophone);
    QAudioSource source(*device, device->preferredFormat());
    source.start();
    const bool opened = source.error() == QAudio::NoError && source.state() != QAudio::StoppedState;
    source.stop();
    if (!opened)
        return std::unexpected(NativeAudioCaptureError::microphoneDidNotStart);
    return {};
}

QCoro::Task<std::expected<void, NativeAudioCaptureError>> MicrophoneAccess::request()
{
    auto asking = startOffThread([] { return DefaultAudioInput::askSoundServer().has_value(); });
    const std::optional<bool> answered = co_await qCoro(asking).waitForFinished();
    if (!answered.value_or(false))
        co_return std::unexpected(NativeAudioCaptureError::noMicrophone);
    // The media backend is set up on the caller's thread, never first on the short-lived one.
    QMediaDevices::audioInputs();
    auto answer = std::make_shared<std::expected<void, NativeAudioCaptureError>>();
    std::unique_ptr<QThread> thread(QThread::create([answer] { *answer = check(); }));
    thread->start();
    co_await qCoro(thread.get()).waitForFinished();
    co_return *answer;
}

} // namespace lumora
