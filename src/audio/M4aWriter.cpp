#include "audio/M4aWriter.hpp"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
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

int writePacket(void* opaque, uint8_t* data, int size);
int64_t seekPacket(void* opaque, int64_t offset, int whence);

} // namespace

struct M4aWriter::State {
    QByteArray path;
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
    bool failed = false;
    bool closed = false;

    AVFormatContext* format = nullptr;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
    SwrContext* resampler = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int64_t nextPts = 0;
    std::vector<float> resampled;

    ~State()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        if (fifo != nullptr)
            av_audio_fifo_free(fifo);
        swr_free(&resampler);
        avcodec_free_context(&encoder);
        if (format != nullptr) {
            if (format->pb != nullptr) {
                av_freep(&format->pb->buffer);
                avio_context_free(&format->pb);
            }
            avformat_free_context(format);
        }
        closeFile();
    }

    bool closeFile()
    {
        if (fd < 0)
            return true;
        const bool ok = ::close(fd) == 0;
        fd = -1;
        return ok;
    }

    bool ioFailed() const { return format->pb->error < 0; }

    // Sends one frame (or, with none, the end of input) and writes every packet that is ready.
    bool encode(AVFrame* input)
    {
        if (avcodec_send_frame(encoder, input) < 0)
            return false;
        for (;;) {
            const int received = avcodec_receive_packet(encoder, packet);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return true;
            if (received < 0)
                return false;
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const int written = av_interleaved_write_frame(format, packet);
            av_packet_unref(packet);
            if (written < 0 || ioFailed())
                return false;
        }
    }

    // Encodes frames of the encoder's size from the FIFO; with `all`, also a shorter last one.
    bool encodeBuffered(bool all)
    {
        const int frameSize = encoder->frame_size;
        while (av_audio_fifo_size(fifo) >= frameSize || (all && av_audio_fifo_size(fifo) > 0)) {
            const int count = std::min(frameSize, av_audio_fifo_size(fifo));
            if (av_frame_make_writable(frame) < 0)
                return false;
            if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), count) != count)
                return false;
            frame->nb_samples = count;
            frame->pts = nextPts;
            nextPts += count;
            if (!encode(frame))
                return false;
        }
        return true;
    }

    // Resamples `count` input samples (none: the resampler's tail) into the FIFO.
    bool resample(const float* samples, int count)
    {
        const int capacity = swr_get_out_samples(resampler, count);
        if (capacity < 0)
            return false;
        if (capacity == 0)
            return true;
        resampled.resize(std::size_t(capacity));
        auto* out = reinterpret_cast<uint8_t*>(resampled.data());
        const auto* in = reinterpret_cast<const uint8_t*>(samples);
        const int produced
            = swr_convert(resampler, &out, capacity, samples != nullptr ? &in : nullptr, count);
        if (produced < 0)
            return false;
        return av_audio_fifo_write(fifo, reinterpret_cast<void**>(&out), produced) == produced;
    }
};

namespace {

int writePacket(void* opaque, uint8_t* data, int size)
{
    auto* state = static_cast<M4aWriter::State*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t written = ::write(state->fd, data + done, std::size_t(size - done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return AVERROR(errno);
        }
        done += int(written);
    }
    return size;
}

int64_t seekPacket(void* opaque, int64_t offset, int whence)
{
    auto* state = static_cast<M4aWriter::State*>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat status { };
        return ::fstat(state->fd, &status) == 0 ? int64_t(status.st_size) : AVERROR(errno);
    }
    const off_t position = ::lseek(state->fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : int64_t(position);
}

std::expected<void, NativeAudioCaptureError> openFile(M4aWriter::State& state)
{
    // Mode 0600 from creation on; fchmod covers a file that existed and umasks that would
    // narrow the mode further.
    state.fd = ::open(state.path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (state.fd < 0)
        return std::unexpected(NativeAudioCaptureError::fileNotCreated);
    struct stat status { };
    if (::fstat(state.fd, &status) != 0 || !S_ISREG(status.st_mode) || ::fchmod(state.fd, 0600) != 0)
        return std::unexpected(NativeAudioCaptureError::fileNotCreated);
    state.device = status.st_dev;
    state.inode = status.st_ino;
    return {};
}

bool openEncoder(M4aWriter::State& state, int inputSampleRate)
{
    // FFmpeg's progress notes would fill the application's output; its errors still show.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
    if (avformat_alloc_output_context2(&state.format, nullptr, "ipod", state.path.constData()) < 0)
        return false;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr)
        return false;
    state.encoder = avcodec_alloc_context3(codec);
    if (state.encoder == nullptr)
        return false;
    AVCodecContext& encoder = *state.encoder;
    encoder.sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder.sample_rate = M4aWriter::outputSampleRate;
    av_channel_layout_default(&encoder.ch_layout, 1);
    encoder.bit_rate = M4aWriter::bitRate;
    encoder.profile = FF_PROFILE_AAC_LOW;
    encoder.time_base = AVRational { 1, M4aWriter::outputSampleRate };
    if ((state.format->oformat->flags & AVFMT_GLOBALHEADER) != 0)
        encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(state.encoder, codec, nullptr) < 0)
        return false;

    state.stream = avformat_new_stream(state.format, nullptr);
    if (state.stream == nullptr || avcodec_parameters_from_context(state.stream->codecpar, state.encoder) < 0)
        return false;
    state.stream->time_base = encoder.time_base;

    AVChannelLayout mono {};
    av_channel_layout_default(&mono, 1);
    if (swr_alloc_set_opts2(&state.resampler, &mono, AV_SAMPLE_FMT_FLTP, M4aWriter::outputSampleRate, &mono,
            AV_SAMPLE_FMT_FLT, inputSampleRate, 0, nullptr)
            < 0
        || swr_init(state.resampler) < 0)
        return false;
    state.fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 1, encoder.frame_size * 4);
    state.frame = av_frame_alloc();
    state.packet = av_packet_alloc();
    if (state.fifo == nullptr || state.frame == nullptr || state.packet == nullptr)
        return false;
    state.frame->format = AV_SAMPLE_FMT_FLTP;
    state.frame->sample_rate = M4aWriter::outputSampleRate;
    state.frame->nb_samples = encoder.frame_size;
    if (av_channel_layout_copy(&state.frame->ch_layout, &encoder.ch_layout) < 0
        || av_frame_get_buffer(state.frame, 0) < 0)
        return false;

    auto* buffer = static_cast<unsigned char*>(av_malloc(ioBufferSize));
    if (buffer == nullptr)
        return false;
    state.format->pb
        = avio_alloc_context(buffer, ioBufferSize, 1, &state, nullptr, &writePacket, &seekPacket);
    if (state.format->pb == nullptr) {
        av_free(buffer);
        return false;
    }
    state.format->flags |= AVFMT_FLAG_CUSTOM_IO;
    return avformat_write_header(state.format, nullptr) >= 0 && !state.ioFailed();
}

} // namespace

std::expected<std::unique_ptr<M4aWriter>, NativeAudioCaptureError> M4aWriter::create(
    const QString& path, int inputSampleRate)
{
    if (inputSampleRate <= 0)
        return std::unexpected(NativeAudioCaptureError::fileNotCreated);
    auto state = std::make_unique<State>();
    state->path = QFile::encodeName(path);
    auto writer = std::unique_ptr<M4aWriter>(new M4aWriter(std::move(state)));
    if (auto opened = openFile(*writer->m_state); !opened)
        return std::unexpected(opened.error());
    if (!openEncoder(*writer->m_state, inputSampleRate)) {
        writer->discard();
        return std::unexpected(NativeAudioCaptureError::fileNotCreated);
    }
    return writer;
}

M4aWriter::M4aWriter(std::unique_ptr<State> state)
    : m_state(std::move(state))
{
}

M4aWriter::~M4aWriter() = default;

bool M4aWriter::write(std::span<const float> samples)
{
    State& state = *m_state;
    if (state.failed || state.closed)
        return false;
    if (samples.empty())
        return true;
    if (!state.resample(samples.data(), int(samples.size())) || !state.encodeBuffered(false))
        state.failed = true;
    return !state.failed;
}

bool M4aWriter::finish()
{
    State& state = *m_state;
    if (state.closed)
        return !state.failed;
    state.closed = true;
    if (!state.failed) {
        const bool drained
            = state.resample(nullptr, 0) && state.encodeBuffered(true) && state.encode(nullptr);
        const bool trailed = drained && av_write_trailer(state.format) >= 0;
        if (trailed)
            avio_flush(state.format->pb);
        state.failed = !trailed || state.ioFailed();
    }
    if (!state.closeFile())
        state.failed = true;
    return !state.failed;
}

void M4aWriter::discard()
{
    State& state = *m_state;
    const bool inPlace = isInPlace();
    state.closed = true;
    state.failed = true;
    state.closeFile();
    if (inPlace)
        ::unlink(state.path.constData());
}

bool M4aWriter::isInPlace() const
{
    const State& state = *m_state;
    struct stat status { };
    if (state.fd < 0 && state.closed)
        return false;
    return ::lstat(state.path.constData(), &status) == 0 && status.st_dev == state.device
        && status.st_ino == state.inode;
}

} // namespace lumora
