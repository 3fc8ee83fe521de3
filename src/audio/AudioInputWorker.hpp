#pragma once

#include "audio/NativeAudioCaptureError.hpp"

#include <QAudioSource>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <expected>
#include <functional>
#include <memory>
#include <vector>

namespace lumora {

class M4aWriter;

// The audio thread's side of a capture: owns the microphone source and the recording file,
// cuts the samples into 4096-frame PCM blocks for the handler and encodes the same samples
// into the file, and ends the capture itself at the granted length or when the file cannot
// be written. Every member except the atomic readings runs on the audio thread.
class AudioInputWorker : public QObject {
    Q_OBJECT
public:
    using PcmHandler = std::function<void(const QByteArray&)>;

    static constexpr qsizetype blockFrames = 4096;

    enum class ResumeResult { resumed, recorderEnded, microphoneFailed };

    AudioInputWorker();
    ~AudioInputWorker() override;

    [[nodiscard]] std::expected<void, NativeAudioCaptureError> begin(
        quint64 generation, const QString& path, double duration, PcmHandler pcmHandler);
    void pause();
    ResumeResult resume();
    // Ends the capture explicitly: takes what the microphone has delivered, hands out the last
    // partial block, drains the encoder and writes the trailer. Nothing is reported.
    void end();

    // Readable from any thread.
    [[nodiscard]] qint64 framesRecorded() const { return m_framesRecorded.load(); }
    [[nodiscard]] int sampleRate() const { return m_sampleRate.load(); }
    [[nodiscard]] bool hasEnded() const { return m_ended.load(); }

signals:
    // The capture ended without being asked to: at its granted length (with whether the file
    // was completed) or because the file or the microphone failed (false).
    void endedByItself(quint64 generation, bool successfully);

private:
    void readAvailable();
    void consume(const float* samples, qsizetype count);
    void handOutBlock();
    void sourceStateChanged(QAudio::State state);
    // Stops the source and finishes (or, after a failure, removes) the file.
    bool close(bool completeFile);
    void fail();

    quint64 m_generation = 0;
    std::unique_ptr<QAudioSource> m_source;
    QIODevice* m_input = nullptr;
    std::unique_ptr<M4aWriter> m_writer;
    PcmHandler m_pcmHandler;
    qint64 m_limitFrames = 0;
    bool m_paused = false;
    QByteArray m_carry;
    std::vector<float> m_samples;
    std::vector<float> m_block;
    std::atomic<qint64> m_framesRecorded { 0 };
    std::atomic<int> m_sampleRate { 0 };
    std::atomic<bool> m_ended { true };
};

} // namespace lumora
