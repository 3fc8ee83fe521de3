#include "audio/AudioInputWorker.hpp"

#include "audio/DefaultAudioInput.hpp"
#include "audio/M4aWriter.hpp"
#include "audio/PcmConversion.hpp"

#include <QAudioFormat>
#include <cmath>
#include <cstring>

namespace lumora {

AudioInputWorker::AudioInputWorker() = default;

AudioInputWorker::~AudioInputWorker()
{
    close(true);
}

std::expected<void, NativeAudioCaptureError> AudioInputWorker::begin(
    quint64 generation, const QString& path, double duration, PcmHandler pcmHandler)
{
    close(true);
    m_generation = generation;
    m_framesRecorded = 0;
    m_carry.clear();
    m_block.clear();
    m_paused = false;

    const std::optional<QAudioDevice> device = DefaultAudioInput::find();
    if (!device)
        return std::unexpected(NativeAudioCaptureError::noMicrophone);
    QAudioFormat format;
    format.setSampleRate(device->preferredFormat().sampleRate());
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Float);
    if (format.sampleRate() <= 0 || !device->isFormatSupported(format))
        return std::unexpected(NativeAudioCaptureError::microphoneDidNotStart);

    auto writer = M4aWriter::create(path, format.sampleRate());
    if (!writer)
        return std::unexpected(writer.error());
    m_writer = std::move(*writer);

    m_sampleRate = format.sampleRate();
    m_limitFrames = std::llround(duration * format.sampleRate());
    m_pcmHandler = std::move(pcmHandler);
    m_block.reserve(blockFrames);
    m_source = std::make_unique<QAudioSource>(*device, format);
    // Blocks of about 20 ms keep the live stream and the clock smooth.
    m_source->setBufferSize(format.bytesForDuration(20'000) * 4);
    // On a sound server this process has not used yet, this takes about two seconds.
    m_input = m_source->start();
    if (m_input == nullptr || m_source->error() != QAudio::NoError
        || m_source->state() == QAudio::StoppedState) {
        m_input = nullptr;
        m_source.reset();
        m_writer->discard();
        m_writer.reset();
        m_pcmHandler = {};
        return std::unexpected(NativeAudioCaptureError::microphoneDidNotStart);
    }
    connect(m_input, &QIODevice::readyRead, this, &AudioInputWorker::readAvailable);
    connect(m_source.get(), &QAudioSource::stateChanged, this, &AudioInputWorker::sourceStateChanged);
    m_ended = false;
    return {};
}

void AudioInputWorker::pause()
{
    if (m_ended || m_paused)
        return;
    readAvailable();
    if (m_source && !m_ended) {
        m_paused = true;
        m_source->suspend();
    }
}

AudioInputWorker::ResumeResult AudioInputWorker::resume()
{
    if (m_ended || !m_source)
        return ResumeResult::recorderEnded;
    if (!m_paused)
        return ResumeResult::resumed;
    m_source->resume();
    if (m_source->error() != QAudio::NoError || m_source->state() == QAudio::StoppedState) {
        m_source->suspend();
        return ResumeResult::microphoneFailed;
    }
    m_paused = false;
    return ResumeResult::resumed;
}

void AudioInputWorker::end()
{
    if (m_ended)
        return;
    readAvailable();
    close(true);
}

void AudioInputWorker::readAvailable()
{
    if (m_ended || m_input == nullptr)
        return;
    m_carry.append(m_input->readAll());
    const qsizetype frames = m_carry.size() / qsizetype(sizeof(float));
    if (frames == 0)
        return;
    // Copied out: the byte array's storage promises no alignment for floats.
    m_samples.resize(std::size_t(frames));
    std::memcpy(m_samples.data(), m_carry.constData(), std::size_t(frames) * sizeof(float));
    m_carry.remove(0, frames * qsizetype(sizeof(float)));
    consume(m_samples.data(), frames);
}

void AudioInputWorker::consume(const float* samples, qsizetype count)
{
    count = std::min<qint64>(count, m_limitFrames - m_framesRecorded);
    if (count <= 0)
        return;
    if (m_pcmHandler) {
        for (qsizetype offset = 0; offset < count;) {
            const qsizetype take = std::min(count - offset, blockFrames - qsizetype(m_block.size()));
            m_block.insert(m_block.end(), samples + offset, samples + offset + take);
            offset += take;
            if (qsizetype(m_block.size()) == blockFrames)
                handOutBlock();
        }
    }
    // A file that cannot be written, or whose folder is gone, would lose the conversation
    // unnoticed: the capture ends at once and says so.
    if (!m_writer->write({ samples, std::size_t(count) }) || !m_writer->isInPlace()) {
        fail();
        return;
    }
    m_framesRecorded += count;
    if (m_framesRecorded >= m_limitFrames) {
        const bool completed = close(true);
        emit endedByItself(m_generation, completed);
    }
}

void AudioInputWorker::handOutBlock()
{
    if (auto block = PcmConversion::block(m_block.data(), qsizetype(m_block.size())))
        m_pcmHandler(*block);
    m_block.clear();
}

void AudioInputWorker::sourceStateChanged(QAudio::State state)
{
    if (!m_ended && state == QAudio::StoppedState && m_source && m_source->error() != QAudio::NoError)
        fail();
}

void AudioInputWorker::fail()
{
    close(false);
    emit endedByItself(m_generation, false);
}

bool AudioInputWorker::close(bool completeFile)
{
    if (m_ended)
        return false;
    m_ended = true;
    if (m_source) {
        // Disconnected first: stopping reports a state change that is no failure.
        m_source->disconnect(this);
        if (m_input != nullptr)
            m_input->disconnect(this);
        m_source->stop();
    }
    m_input = nullptr;
    m_source.reset();
    bool completed = false;
    if (completeFile) {
        if (m_pcmHandler && !m_block.empty())
            handOutBlock();
        completed = m_writer->finish();
    } else {
        m_writer->discard();
    }
    m_writer.reset();
    m_block.clear();
    m_pcmHandler = {};
    return completed;
}

} // namespace lumora
