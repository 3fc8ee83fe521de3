#include "audio/NativeAudioCapture.hpp"

#include "AwaitTask.hpp"
#include "ChildTestRun.hpp"
#include "VirtualMicrophone.hpp"
#include "audio/DefaultAudioInput.hpp"
#include "audio/MicrophoneAccess.hpp"

#include <FailsWith.hpp>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <csignal>
#include <limits>
#include <qcoro/qcorotask.h>
#include <sys/resource.h>

namespace lumora {
namespace {

using test::BlockLog;
using test::probe;
using test::spinFor;
using test::spinUntil;

// Loudness on the 16-bit scale: espeak-ng speech reaches thousands, the silent server zero.
constexpr double speaking = 300.0;
constexpr double silent = 30.0;

// Counts the completions of a capture.
struct Completions {
    std::vector<bool> calls;
    NativeAudioCapture::Completion handler()
    {
        return [this](bool successfully) { calls.push_back(successfully); };
    }
};

std::expected<void, NativeAudioCaptureError> startCapture(NativeAudioCapture& capture, const QString& path,
    double duration, NativeAudioCapture::PcmHandler pcm = {}, NativeAudioCapture::Completion completion = {})
{
    return test::awaitTask(capture.start(path, duration, std::move(pcm), std::move(completion)));
}

TEST(NativeAudioCaptureValidationTest, AcceptsOnlyDurationsUpToAnHour)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    for (const double rejected : { 0.0, -0.0, -1.0, nan, infinity, -infinity, 3600.0001 })
        EXPECT_THAT(
            NativeAudioCapture::validate(rejected), FailsWith(NativeAudioCaptureError::invalidDuration))
            << rejected;
    for (const double accepted : { 0.001, 1.0, 3600.0 })
        EXPECT_TRUE(NativeAudioCapture::validate(accepted).has_value()) << accepted;
}

using NativeAudioCaptureTest = test::VirtualMicrophoneTest;

TEST_F(NativeAudioCaptureTest, TenSecondsOfSpeechBecomeOrderedPcmBlocksAndAMatchingM4a)
{
    NativeAudioCapture capture;
    EXPECT_EQ(test::awaitTask(NativeAudioCapture::inputSampleRate()), 48000.0);
    const auto [speechPath, speechSeconds]
        = speech("Thank you for sitting down with me. I would like to talk "
                 "about the weekend, and how we plan it together this time.");
    ASSERT_GT(speechSeconds, 5.0);

    // Speech already plays when the capture starts: its first moment must be in the recording.
    // `play` returns once it plays; the capture then starts well inside the speech.
    play(speechPath);
    spinFor(300);
    // The first opening of the microphone takes seconds; the caller's event loop keeps running.
    QElapsedTimer sinceTick;
    qint64 longestStall = 0;
    QTimer ticker;
    QObject::connect(
        &ticker, &QTimer::timeout, [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
    BlockLog log;
    Completions completions;
    QElapsedTimer starting;
    starting.start();
    sinceTick.start();
    ticker.start(10);
    ASSERT_TRUE(startCapture(capture, audioPath(), 3600, log.handler(), completions.handler()).has_value());
    ticker.stop();
    // Held through the opening, the loop would stall for about all of it; a loaded machine
    // stretches both, so the stall is measured against the opening's own length.
    EXPECT_LT(longestStall, std::max<qint64>(500, starting.elapsed() / 2)) << starting.elapsed() << " ms";
    EXPECT_EQ(test::modeOf(audioPath()), 0600);

    ASSERT_TRUE(spinUntil([&] { return capture.currentTime() >= 10.0; }, 60000));
    EXPECT_TRUE(capture.isRecording());
    const double recorded = capture.currentTime();
    capture.stop();
    EXPECT_FALSE(capture.isRecording());
    EXPECT_EQ(capture.currentTime(), 0.0);
    EXPECT_TRUE(completions.calls.empty());

    const std::vector<QByteArray> blocks = log.blocks();
    ASSERT_GT(blocks.size(), 100u);
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i)
        ASSERT_EQ(blocks[i].size(), 4096 * 2) << "block " << i;
    EXPECT_GT(blocks.back().size(), 0);
    EXPECT_LE(blocks.back().size(), 4096 * 2);
    const double pcmSeconds = double(log.totalFrames()) / 48000.0;
    EXPECT_NEAR(pcmSeconds, recorded, 0.1);

    // Speech from the first blocks on (no gap at the start), silence in order once it is over.
    const double blockSeconds = 4096.0 / 48000.0;
    std::size_t firstSpoken = blocks.size();
    std::size_t spokenBlocks = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const double loudness = BlockLog::loudness(blocks[i]);
        if (loudness > speaking) {
            firstSpoken = std::min(firstSpoken, i);
            ++spokenBlocks;
        }
        if (double(i) * blockSeconds > speechSeconds + 1.0) {
            EXPECT_LT(loudness, silent) << "block " << i;
        }
    }
    EXPECT_LT(double(firstSpoken) * blockSeconds, 0.5);
    EXPECT_GT(double(spokenBlocks) * blockSeconds, 1.5);

    const test::ProbedAudio audio = probe(audioPath());
    EXPECT_EQ(audio.codec, "aac");
    EXPECT_EQ(audio.profile, "LC");
    EXPECT_EQ(audio.channels, 1);
    EXPECT_EQ(audio.sampleRate, 44100);
    EXPECT_NEAR(audio.duration, pcmSeconds, 0.1);
    EXPECT_NEAR(audio.duration, recorded, 0.1);
    EXPECT_EQ(test::modeOf(audioPath()), 0600);
}

TEST_F(NativeAudioCaptureTest, PausedTimeIsNeitherCountedNorRecorded)
{
    NativeAudioCapture capture;
    BlockLog log;
    ASSERT_TRUE(startCapture(capture, audioPath(), 3600, log.handler()).has_value());
    ASSERT_TRUE(spinUntil([&] { return capture.currentTime() >= 1.0; }, 60000));

    capture.pause();
    EXPECT_FALSE(capture.isRecording());
    const double atPause = capture.currentTime();
    const qint64 framesAtPause = log.totalFrames();
    // Audio that still came while paused would come as the microphone's does, in real time:
    // the pause lasts long enough for a good many blocks.
    spinFor(1500);
    EXPECT_EQ(capture.currentTime(), atPause);
    EXPECT_EQ(log.totalFrames(), framesAtPause);

    ASSERT_TRUE(capture.resume().has_value());
    EXPECT_TRUE(capture.isRecording());
    ASSERT_TRUE(spinUntil([&] { return capture.currentTime() >= 2.0; }, 60000));
    const double recorded = capture.currentTime();
    capture.stop();

    const test::ProbedAudio audio = probe(audioPath());
    EXPECT_NEAR(audio.duration, recorded, 0.1);
    EXPECT_NEAR(audio.duration, double(log.totalFrames()) / 48000.0, 0.1);
    EXPECT_LT(audio.duration, 3.0);
}

TEST_F(NativeAudioCaptureTest, EndsItselfAtTheGrantedLengthOnceAndCanRecordAgain)
{
    NativeAudioCapture capture;
    BlockLog log;
    Completions completions;
    ASSERT_TRUE(startCapture(capture, audioPath(), 1.5, log.handler(), completions.handler()).has_value());
    ASSERT_TRUE(spinUntil([&] { return !completions.calls.empty(); }, 60000));
    EXPECT_EQ(completions.calls, std::vector<bool> { true });
    EXPECT_FALSE(capture.isRecording());
    EXPECT_EQ(capture.currentTime(), 0.0);
    EXPECT_EQ(log.totalFrames(), 72000);
    const test::ProbedAudio audio = probe(audioPath());
    EXPECT_EQ(audio.codec, "aac");
    EXPECT_NEAR(audio.duration, 1.5, 0.05);

    capture.stop();
    // A second completion would come on a later turn of the loop; nothing marks its absence.
    spinFor(200);
    EXPECT_EQ(completions.calls.size(), 1u);

    const QString second = QDir(folder()).filePath("second.m4a");
    ASSERT_TRUE(startCapture(capture, second, 0.5, {}, completions.handler()).has_value());
    ASSERT_TRUE(spinUntil([&] { return completions.calls.size() == 2; }, 60000));
    EXPECT_EQ(completions.calls.back(), true);
    EXPECT_NEAR(probe(second).duration, 0.5, 0.05);
}

TEST_F(NativeAudioCaptureTest, AFileThatCannotBeWrittenEndsTheCaptureUnsuccessfully)
{
    // Speech makes the file grow, so that the writes of the encoded audio really happen.
    const auto [speechPath, speechSeconds] = speech("One two three four five six seven eight nine ten.");
    // Folder removed: the path no longer names the file. Size limit: writes fail as on a full disk.
    for (const bool removeFolder : { true, false }) {
        SCOPED_TRACE(removeFolder ? "folder removed" : "size limit");
        const QString sessionFolder = QDir(folder()).filePath(removeFolder ? "removed" : "limited");
        ASSERT_TRUE(QDir().mkpath(sessionFolder));
        const QString path = QDir(sessionFolder).filePath("recording.m4a");

        NativeAudioCapture capture;
        Completions completions;
        ASSERT_TRUE(startCapture(capture, path, 3600, {}, completions.handler()).has_value());
        ASSERT_TRUE(spinUntil([&] { return capture.currentTime() >= 0.5; }, 60000));
        rlimit original {};
        ::getrlimit(RLIMIT_FSIZE, &original);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (removeFolder) {
            ASSERT_TRUE(QDir(sessionFolder).removeRecursively());
        } else {
            rlimit limited = original;
            limited.rlim_cur = 4096;
            ::setrlimit(RLIMIT_FSIZE, &limited);
            play(speechPath);
        }
        const bool ended
            = spinUntil([&] { return !completions.calls.empty(); }, int(speechSeconds * 1000) + 60000);
        ::setrlimit(RLIMIT_FSIZE, &original);
        std::signal(SIGXFSZ, previousHandler);

        ASSERT_TRUE(ended);
        EXPECT_EQ(completions.calls, std::vector<bool> { false });
        EXPECT_FALSE(capture.isRecording());
        EXPECT_EQ(capture.currentTime(), 0.0);
        EXPECT_FALSE(QFile::exists(path));
        capture.stop();
        EXPECT_EQ(completions.calls.size(), 1u);
    }
}

TEST_F(NativeAudioCaptureTest, FailedStartsLeaveTheCaptureAsItWas)
{
    NativeAudioCapture capture;
    EXPECT_THAT(startCapture(capture, audioPath(), 0), FailsWith(NativeAudioCaptureError::invalidDuration));
    EXPECT_FALSE(QFile::exists(audioPath()));
    EXPECT_THAT(startCapture(capture, QDir(folder()).filePath("missing/recording.m4a"), 60),
        FailsWith(NativeAudioCaptureError::fileNotCreated));
    EXPECT_FALSE(capture.isRecording());
    EXPECT_THAT(capture.resume(), FailsWith(NativeAudioCaptureError::recordingDidNotStart));

    ASSERT_TRUE(startCapture(capture, audioPath(), 60).has_value());
    EXPECT_THAT(startCapture(capture, QDir(folder()).filePath("other.m4a"), 60),
        FailsWith(NativeAudioCaptureError::alreadyRecording));
    EXPECT_FALSE(QFile::exists(QDir(folder()).filePath("other.m4a")));
    const double before = capture.currentTime();
    ASSERT_TRUE(spinUntil([&] { return capture.currentTime() > before + 0.3; }, 60000));
    EXPECT_TRUE(capture.isRecording());
    capture.stop();
    EXPECT_GT(probe(audioPath()).duration, 0.3);
}

TEST_F(NativeAudioCaptureTest, AccessIsGrantedForTheSoundServersDefaultMicrophone)
{
    EXPECT_EQ(DefaultAudioInput::soundServerDefaultSource(), qgetenv("LUMORA_TEST_MICROPHONE"));
    const auto device = DefaultAudioInput::find();
    ASSERT_TRUE(device.has_value());
    EXPECT_EQ(device->id(), qgetenv("LUMORA_TEST_MICROPHONE"));
    EXPECT_TRUE(test::awaitTask(MicrophoneAccess::request()).has_value());
}

// A sound server that takes the connection and never answers keeps the question for seconds: it
// is asked on a pool thread, so with the pool held busy the caller's loop turns and the answer
// waits; once the pool is free it comes (from Qt's own list).
TEST_F(NativeAudioCaptureTest, ASoundServerThatHangsNeverHoldsTheCallersThread)
{
    // Qt's own view of the microphones is set up on the real server first.
    EXPECT_EQ(test::awaitTask(NativeAudioCapture::inputSampleRate()), 48000.0);
    QTemporaryDir folder;
    QLocalServer hung;
    ASSERT_TRUE(hung.listen(folder.filePath("native")));
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(hung.fullServerName()));
    QThreadPool& pool = *QThreadPool::globalInstance();
    const int threads = pool.maxThreadCount();
    pool.setMaxThreadCount(1);
    QSemaphore busy;
    pool.start([&busy] { busy.acquire(); });

    auto asking = NativeAudioCapture::inputSampleRate();
    // The pool's one thread is held, so an answer now could only have come some other way.
    spinFor(50);
    EXPECT_FALSE(asking.isReady());
    busy.release();
    pool.setMaxThreadCount(threads);
    const double rate = test::awaitTask(std::move(asking));
    if (server.isNull())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", server);
    EXPECT_GT(rate, 0.0);
}

// Disabled in the ordinary run: NoSoundServerMeansNoMicrophone runs it in a child process whose
// sound server does not exist.
TEST(NativeAudioCaptureWithoutSoundServer, DISABLED_ReportsThatThereIsNoMicrophone)
{
    QTemporaryDir folder;
    const QString path = QDir(folder.path()).filePath("recording.m4a");
    EXPECT_THAT(
        test::awaitTask(MicrophoneAccess::request()), FailsWith(NativeAudioCaptureError::noMicrophone));
    NativeAudioCapture capture;
    EXPECT_EQ(test::awaitTask(NativeAudioCapture::inputSampleRate()), 0.0);
    EXPECT_THAT(startCapture(capture, path, 60), FailsWith(NativeAudioCaptureError::noMicrophone));
    EXPECT_FALSE(capture.isRecording());
    EXPECT_FALSE(QFile::exists(path));
}

TEST(NativeAudioCaptureValidationTest, NoSoundServerMeansNoMicrophone)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PULSE_SERVER", "unix:/nonexistent/lumora-test-sound-server");
    const test::ChildTestRun run = test::runInChild(
        u"NativeAudioCaptureWithoutSoundServer.DISABLED_ReportsThatThereIsNoMicrophone"_qs, environment);
    EXPECT_TRUE(run.passed()) << run.output.toStdString();
}

// Disabled in the ordinary run: AMicrophoneThatAppearsIsFoundAtTheNextStart runs it in a child
// process whose sound server (at PULSE_SERVER) is not there yet. Each request looks anew: with no
// server, then a server without a microphone, then the same server once a microphone is added.
TEST(NativeAudioCaptureWithLateSoundServer, DISABLED_FindsTheMicrophoneOnceThereIsOne)
{
    EXPECT_THAT(
        test::awaitTask(MicrophoneAccess::request()), FailsWith(NativeAudioCaptureError::noMicrophone));

    const QString server = qEnvironmentVariable("PULSE_SERVER");
    ASSERT_TRUE(server.startsWith("unix:"));
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    environment.insert("PULSE_RUNTIME_PATH", runtime.filePath("pulse"));
    environment.insert("PULSE_STATE_PATH", runtime.filePath("state"));
    // The test session's bus already carries the other daemon's name.
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    QProcess daemon;
    daemon.setProcessEnvironment(environment);
    daemon.setProcessChannelMode(QProcess::ForwardedChannels);
    daemon.start("pulseaudio",
        { "--daemonize=no", "-n", "--exit-idle-time=-1", "--log-level=error",
            "--load=module-native-protocol-unix socket=" + server.mid(5),
            "--load=module-null-sink sink_name=late_speaker rate=48000 channels=1" });
    ASSERT_TRUE(daemon.waitForStarted(60000));
    ASSERT_TRUE(test::spinUntil([] { return DefaultAudioInput::askSoundServer().has_value(); }, 60000));
    // Only a speaker so far: its monitor is no microphone.
    EXPECT_THAT(
        test::awaitTask(MicrophoneAccess::request()), FailsWith(NativeAudioCaptureError::noMicrophone));

    for (const QStringList& arguments :
        { QStringList { "load-module", "module-remap-source", "master=late_speaker.monitor",
              "source_name=late_mic", "channels=1" },
            QStringList { "set-default-source", "late_mic" } })
        EXPECT_EQ(QProcess::execute("pactl", arguments), 0) << arguments.join(' ').toStdString();
    // The sound server tells Qt of the new microphone as it comes.
    ASSERT_TRUE(
        test::spinUntil([] { return test::awaitTask(MicrophoneAccess::request()).has_value(); }, 60000));
    QTemporaryDir folder;
    NativeAudioCapture capture;
    ASSERT_TRUE(startCapture(capture, folder.filePath("recording.m4a"), 60).has_value());
    EXPECT_TRUE(test::spinUntil([&] { return capture.currentTime() > 0.3; }, 60000));
    capture.stop();
    daemon.terminate();
    EXPECT_TRUE(daemon.waitForFinished(60000));
}

TEST(NativeAudioCaptureValidationTest, AMicrophoneThatAppearsIsFoundAtTheNextStart)
{
    if (QStandardPaths::findExecutable("pulseaudio").isEmpty()
        || QStandardPaths::findExecutable("pactl").isEmpty())
        GTEST_SKIP() << "needs PulseAudio";
    QTemporaryDir folder;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PULSE_SERVER", "unix:" + folder.filePath("native"));
    const test::ChildTestRun run = test::runInChild(
        u"NativeAudioCaptureWithLateSoundServer.DISABLED_FindsTheMicrophoneOnceThereIsOne"_qs, environment);
    EXPECT_TRUE(run.passed()) << run.output.toStdString();
}

} // namespace
} // namespace lumora
