#include "audio/NativeAudioCapture.hpp"

#include "audio/AudioInputWorker.hpp"
#include "audio/DefaultAudioInput.hpp"
#include "domain/OffThread.hpp"

#include <QFuture>
#include <QMediaDevices>
#include <QPromise>
#include <cmath>
#include <memory>
#include <qcoro/qcorofuture.h>

namespace lumora {

namespace {

// What the audio thread answers to a start; a plain struct, as futures need one.
struct StartAnswer {
    bool started = false;
    NativeAudioCaptureError error = NativeAudioCaptureError::recordingDidNotStart;
};

} // namespace

std::expected<void, NativeAudioCaptureError> NativeAudioCapture::validate(double duration)
{
    if (!(duration > 0.0 && duration <= maximumDuration))
        return std::unexpected(NativeAudioCaptureError::invalidDuration);
    return {};
}

NativeAudioCapture::NativeAudioCapture(QObject* parent)
    : QObject(parent)
    , m_worker(new AudioInputWorker)
{
    m_thread.setObjectName(QStringLiteral("Lumora audio"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &AudioInputWorker::endedByItself, this, &NativeAudioCapture::workerEnded);
    m_thread.start();
}

NativeAudioCapture::~NativeAudioCapture()
{
    if (m_running)
        tearDown();
    m_thread.quit();
    m_thread.wait();
}

template <typename Call> auto NativeAudioCapture::onAudioThread(Call call)
{
    // Only calls that return within milliseconds come here: pausing, resuming and finishing a
    // file. Opening the microphone, which can take seconds, is awaited instead.
    using Result = std::invoke_result_t<Call, AudioInputWorker&>;
    AudioInputWorker* worker = m_worker;
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            worker, [worker, &call] { call(*worker); }, Qt::BlockingQueuedConnection);
    } else {
        Result result {};
        QMetaObject::invokeMethod(
            worker, [worker, &call, &result] { result = call(*worker); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

QCoro::Task<double> NativeAudioCapture::inputSampleRate()
{
    // The media backend is set up on the caller's thread, never first on a pool thread.
    QMediaDevices::audioInputs();
    const auto asking = startOffThread([] {
        const std::optional<QAudioDevice> device = DefaultAudioInput::find();
        return device ? double(device->preferredFormat().sampleRate()) : 0.0;
    });
    const auto rate = co_await qCoro(asking).waitForFinished();
    co_return rate.value_or(0.0);
}

bool NativeAudioCapture::isRecording() const
{
    return m_running && !m_paused && !m_worker->hasEnded();
}

double NativeAudioCapture::currentTime() const
{
    const int rate = m_worker->sampleRate();
    if (!m_running || rate <= 0)
        return 0.0;
    return double(m_worker->framesRecorded()) / rate;
}

QCoro::Task<std::expected<void, NativeAudioCaptureError>> NativeAudioCapture::start(
    QString audioPath, double duration, PcmHandler pcmHandler, Completion completion)
{
    if (auto valid = validate(duration); !valid)
        co_return std::unexpected(valid.error());
    if (m_running || m_starting)
        co_return std::unexpected(NativeAudioCaptureError::alreadyRecording);
    m_starting = true;
    m_stopWhileStarting = false;
    const quint64 generation = ++m_generation;
    // The media backend is set up here, on the caller's thread, and never first on the audio
    // thread, whose life is shorter than the backend's; not before a start either, as its one
    // connection to the sound server is made then (see MicrophoneAccess).
    QMediaDevices::audioInputs();

    auto promise = std::make_shared<QPromise<StartAnswer>>();
    QFuture<StartAnswer> answer = promise->future();
    promise->start();
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, promise, generation, audioPath, duration, pcmHandler = std::move(pcmHandler)] {
            const auto begun = worker->begin(generation, audioPath, duration, pcmHandler);
            promise->addResult(begun ? StartAnswer { true, {} } : StartAnswer { false, begun.error() });
            promise->finish();
        },
        Qt::QueuedConnection);
    const StartAnswer started = co_await qCoro(answer).waitForFinished();

    m_starting = false;
    if (!started.started)
        co_return std::unexpected(started.error);
    if (m_stopWhileStarting) {
        onAudioThread([](AudioInputWorker& worker) { worker.end(); });
        co_return std::unexpected(NativeAudioCaptureError::recordingDidNotStart);
    }
    m_running = true;
    m_paused = false;
    m_explicitStop = false;
    m_completion = std::move(completion);
    co_return {};
}

void NativeAudioCapture::pause()
{
    if (!m_running)
        return;
    onAudioThread([](AudioInputWorker& worker) { worker.pause(); });
    m_paused = true;
}

std::expected<void, NativeAudioCaptureError> NativeAudioCapture::resume()
{
    if (!m_running)
        return std::unexpected(NativeAudioCaptureError::recordingDidNotStart);
    switch (onAudioThread([](AudioInputWorker& worker) { return worker.resume(); })) {
    case AudioInputWorker::ResumeResult::resumed:
        m_paused = false;
        return {};
    case AudioInputWorker::ResumeResult::recorderEnded:
        return std::unexpected(NativeAudioCaptureError::recordingDidNotStart);
    case AudioInputWorker::ResumeResult::microphoneFailed:
        break;
    }
    return std::unexpected(NativeAudioCaptureError::microphoneDidNotStart);
}

void NativeAudioCapture::stop()
{
    if (m_starting) {
        // The microphone is still opening; the start undoes itself when it has.
        m_stopWhileStarting = true;
        return;
    }
    if (m_running)
        tearDown();
}

void NativeAudioCapture::tearDown()
{
    m_explicitStop = true;
    m_running = false;
    m_paused = false;
    m_completion = {};
    onAudioThread([](AudioInputWorker& worker) { worker.end(); });
    m_explicitStop = false;
}

void NativeAudioCapture::workerEnded(quint64 generation, bool successfully)
{
    // A capture that was stopped, or an earlier one, is not reported.
    if (generation != m_generation || !m_running || m_explicitStop)
        return;
    Completion completion = std::move(m_completion);
    tearDown();
    if (completion)
        completion(successfully);
}

} // namespace lumora
