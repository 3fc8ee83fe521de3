#include "audio/M4aWriter.hpp"

#include "audio/AacEncoder.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QLibrary>
#include <QLoggingCategory>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {

namespace {

Q_LOGGING_CATEGORY(encoderLog, "com.lumora.native.audio-encoder")

// The encoder module, loaded once, at the first recording, and kept for the process's life:
// where an installed program finds it beside its own folder, else where this build made it.
CreateAacEncoder encoderFactory()
{
    static CreateAacEncoder factory = nullptr;
    static std::once_flag loaded;
    std::call_once(loaded, [] {
        const QStringList candidates {
            QCoreApplication::applicationDirPath() + QStringLiteral("/" LUMORA_AAC_ENCODER_FROM_PROGRAM),
            QStringLiteral(LUMORA_AAC_ENCODER_BUILT),
        };
        for (const QString& candidate : candidates) {
            QLibrary module(candidate);
            module.setLoadHints(QLibrary::PreventUnloadHint);
            factory = reinterpret_cast<CreateAacEncoder>(module.resolve(createAacEncoderSymbol));
            if (factory)
                return;
        }
        qCCritical(encoderLog, "The AAC encoder module could not be loaded from %s",
            qUtf8Printable(candidates.join(QStringLiteral(" or "))));
    });
    return factory;
}

} // namespace

struct M4aWriter::State {
    QByteArray path;
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
    bool failed = false;
    bool closed = false;
    std::unique_ptr<AacEncoder> encoder;

    ~State()
    {
        encoder.reset();
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
};

namespace {

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
    const CreateAacEncoder create = encoderFactory();
    State& made = *writer->m_state;
    if (create)
        made.encoder.reset(
            create(made.fd, made.path.constData(), inputSampleRate, outputSampleRate, bitRate));
    if (!made.encoder) {
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
    if (!state.encoder->write(samples.data(), int(samples.size())))
        state.failed = true;
    return !state.failed;
}

bool M4aWriter::finish()
{
    State& state = *m_state;
    if (state.closed)
        return !state.failed;
    state.closed = true;
    if (!state.failed && !state.encoder->finish())
        state.failed = true;
    state.encoder.reset();
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
    state.encoder.reset();
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
