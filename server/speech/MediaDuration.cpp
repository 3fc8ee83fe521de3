#include "speech/MediaDuration.hpp"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace lumora {

namespace {

struct MemoryReader {
    std::string_view bytes;
    std::size_t position = 0;
};

int readPacket(void* opaque, std::uint8_t* buffer, int size)
{
    auto& reader = *static_cast<MemoryReader*>(opaque);
    const std::size_t count = std::min<std::size_t>(size, reader.bytes.size() - reader.position);
    if (count == 0)
        return AVERROR_EOF;
    std::memcpy(buffer, reader.bytes.data() + reader.position, count);
    reader.position += count;
    return static_cast<int>(count);
}

std::int64_t seek(void* opaque, std::int64_t offset, int whence)
{
    auto& reader = *static_cast<MemoryReader*>(opaque);
    const auto size = static_cast<std::int64_t>(reader.bytes.size());
    if (whence & AVSEEK_SIZE)
        return size;
    std::int64_t target = offset;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        target += static_cast<std::int64_t>(reader.position);
        break;
    case SEEK_END:
        target += size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (target < 0 || target > size)
        return AVERROR(EINVAL);
    reader.position = static_cast<std::size_t>(target);
    return target;
}

} // namespace

std::optional<double> mediaDuration(std::string_view bytes)
{
    constexpr int bufferSize = 64 * 1024;
    MemoryReader reader { bytes };
    auto* buffer = static_cast<unsigned char*>(av_malloc(bufferSize));
    AVIOContext* io
        = buffer ? avio_alloc_context(buffer, bufferSize, 0, &reader, &readPacket, nullptr, &seek) : nullptr;
    if (!io) {
        av_free(buffer);
        return std::nullopt;
    }
    AVFormatContext* format = avformat_alloc_context();
    std::optional<double> duration;
    if (format) {
        format->pb = io;
        format->flags |= AVFMT_FLAG_CUSTOM_IO;
        // On failure avformat_open_input frees the context and nulls the pointer.
        if (avformat_open_input(&format, nullptr, nullptr, nullptr) == 0) {
            if (avformat_find_stream_info(format, nullptr) >= 0 && format->duration != AV_NOPTS_VALUE
                && format->duration >= 0)
                duration = double(format->duration) / AV_TIME_BASE;
            avformat_close_input(&format);
        } else {
            avformat_free_context(format);
        }
    }
    av_freep(&io->buffer);
    avio_context_free(&io);
    return duration;
}

} // namespace lumora
