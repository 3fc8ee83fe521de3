// The FFmpeg side of the recording file, built as a module of its own that M4aWriter loads at
// the first recording (see AacEncoder.hpp).
#include "audio/AacEncoder.hpp"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace lumora {

namespace {

// Small, so that a disk that is full shows within about half a second of speech.
constexpr int ioBufferSize = 4096;

class FfmpegAacEncoder final : public AacEncoder {
public:
    explicit FfmpegAacEncoder(int fd)
        : m_fd(fd)
    {
    }

    ~FfmpegAacEncoder() override
    {
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        if (m_fifo != nullptr)
            av_audio_fifo_free(m_fifo);
        swr_free(&m_resampler);
        avcodec_free_context(&m_encoder);
        if (m_format != nullptr) {
            if (m_format->pb != nullptr) {
                av_freep(&m_format->pb->buffer);
                avio_context_free(&m_format->pb);
            }
            avformat_free_context(m_format);
        }
    }

    bool open(const char* path, int inputSampleRate, int outputSampleRate, std::int64_t bitRate);

    bool write(const float* samples, int count) override
    {
        return resample(samples, count) && encodeBuffered(false);
    }

    bool finish() override
    {
        const bool drained = resample(nullptr, 0) && encodeBuffered(true) && encode(nullptr);
        const bool trailed = drained && av_write_trailer(m_format) >= 0;
        if (trailed)
            avio_flush(m_format->pb);
        return trailed && !ioFailed();
    }

private:
    static int writePacket(void* opaque, uint8_t* data, int size);
    static int64_t seekPacket(void* opaque, int64_t offset, int whence);

    bool ioFailed() const { return m_format->pb->error < 0; }

    // Sends one frame (or, with none, the end of input) and writes every packet that is ready.
    bool encode(AVFrame* input)
    {
        if (avcodec_send_frame(m_encoder, input) < 0)
            return false;
        for (;;) {
            const int received = avcodec_receive_packet(m_encoder, m_packet);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return true;
            if (received < 0)
                return false;
            av_packet_rescale_ts(m_packet, m_encoder->time_base, m_stream->time_base);
            m_packet->stream_index = m_stream->index;
            const int written = av_interleaved_write_frame(m_format, m_packet);
            av_packet_unref(m_packet);
            if (written < 0 || ioFailed())
                return false;
        }
    }

    // Encodes frames of the encoder's size from the FIFO; with `all`, also a shorter last one.
    bool encodeBuffered(bool all)
    {
        const int frameSize = m_encoder->frame_size;
        while (av_audio_fifo_size(m_fifo) >= frameSize || (all && av_audio_fifo_size(m_fifo) > 0)) {
            const int count = std::min(frameSize, av_audio_fifo_size(m_fifo));
            if (av_frame_make_writable(m_frame) < 0)
                return false;
            if (av_audio_fifo_read(m_fifo, reinterpret_cast<void**>(m_frame->data), count) != count)
                return false;
            m_frame->nb_samples = count;
            m_frame->pts = m_nextPts;
            m_nextPts += count;
            if (!encode(m_frame))
                return false;
        }
        return true;
    }

    // Resamples `count` input samples (none: the resampler's tail) into the FIFO.
    bool resample(const float* samples, int count)
    {
        const int capacity = swr_get_out_samples(m_resampler, count);
        if (capacity < 0)
            return false;
        if (capacity == 0)
            return true;
        m_resampled.resize(std::size_t(capacity));
        auto* out = reinterpret_cast<uint8_t*>(m_resampled.data());
        const auto* in = reinterpret_cast<const uint8_t*>(samples);
        const int produced
            = swr_convert(m_resampler, &out, capacity, samples != nullptr ? &in : nullptr, count);
        if (produced < 0)
            return false;
        return av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(&out), produced) == produced;
    }

    int m_fd;
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_encoder = nullptr;
    AVStream* m_stream = nullptr;
    SwrContext* m_resampler = nullptr;
    AVAudioFifo* m_fifo = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    int64_t m_nextPts = 0;
    std::vector<float> m_resampled;
};

int FfmpegAacEncoder::writePacket(void* opaque, uint8_t* data, int size)
{
    const int fd = static_cast<FfmpegAacEncoder*>(opaque)->m_fd;
    int done = 0;
    while (done < size) {
        const ssize_t written = ::write(fd, data + done, std::size_t(size - done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return AVERROR(errno);
        }
        done += int(written);
    }
    return size;
}

int64_t FfmpegAacEncoder::seekPacket(void* opaque, int64_t offset, int whence)
{
    const int fd = static_cast<FfmpegAacEncoder*>(opaque)->m_fd;
    if (whence == AVSEEK_SIZE) {
        struct stat status { };
        return ::fstat(fd, &status) == 0 ? int64_t(status.st_size) : AVERROR(errno);
    }
    const off_t position = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : int64_t(position);
}

bool FfmpegAacEncoder::open(const char* path, int inputSampleRate, int outputSampleRate, std::int64_t bitRate)
{
    // FFmpeg's progress notes would fill the application's output; its errors still show.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
    if (avformat_alloc_output_context2(&m_format, nullptr, "ipod", path) < 0)
        return false;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr)
        return false;
    m_encoder = avcodec_alloc_context3(codec);
    if (m_encoder == nullptr)
        return false;
    AVCodecContext& encoder = *m_encoder;
    encoder.sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder.sample_rate = outputSampleRate;
    av_channel_layout_default(&encoder.ch_layout, 1);
    encoder.bit_rate = bitRate;
    encoder.profile = FF_PROFILE_AAC_LOW;
    encoder.time_base = AVRational { 1, outputSampleRate };
    if ((m_format->oformat->flags & AVFMT_GLOBALHEADER) != 0)
        encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(m_encoder, codec, nullptr) < 0)
        return false;

    m_stream = avformat_new_stream(m_format, nullptr);
    if (m_stream == nullptr || avcodec_parameters_from_context(m_stream->codecpar, m_encoder) < 0)
        return false;
    m_stream->time_base = encoder.time_base;

    AVChannelLayout mono {};
    av_channel_layout_default(&mono, 1);
    if (swr_alloc_set_opts2(&m_resampler, &mono, AV_SAMPLE_FMT_FLTP, outputSampleRate, &mono,
            AV_SAMPLE_FMT_FLT, inputSampleRate, 0, nullptr)
            < 0
        || swr_init(m_resampler) < 0)
        return false;
    m_fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 1, encoder.frame_size * 4);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (m_fifo == nullptr || m_frame == nullptr || m_packet == nullptr)
        return false;
    m_frame->format = AV_SAMPLE_FMT_FLTP;
    m_frame->sample_rate = outputSampleRate;
    m_frame->nb_samples = encoder.frame_size;
    if (av_channel_layout_copy(&m_frame->ch_layout, &encoder.ch_layout) < 0
        || av_frame_get_buffer(m_frame, 0) < 0)
        return false;

    auto* buffer = static_cast<unsigned char*>(av_malloc(ioBufferSize));
    if (buffer == nullptr)
        return false;
    m_format->pb = avio_alloc_context(buffer, ioBufferSize, 1, this, nullptr, &writePacket, &seekPacket);
    if (m_format->pb == nullptr) {
        av_free(buffer);
        return false;
    }
    m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
    return avformat_write_header(m_format, nullptr) >= 0 && !ioFailed();
}

} // namespace

} // namespace lumora

extern "C" __attribute__((visibility("default"))) lumora::AacEncoder* lumora_create_aac_encoder(
    int fd, const char* path, int inputSampleRate, int outputSampleRate, std::int64_t bitRate)
{
    auto encoder = std::make_unique<lumora::FfmpegAacEncoder>(fd);
    if (!encoder->open(path, inputSampleRate, outputSampleRate, bitRate))
        return nullptr;
    return encoder.release();
}
