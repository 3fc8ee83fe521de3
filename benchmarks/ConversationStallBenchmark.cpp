// How much work the GUI thread does in one pass of its event loop while the view model runs one
// long conversation with real parts: the control plane and the speech stand-in as processes on
// loopback TLS, the microphone of scripts/with-virtual-microphone (its silence arrives at the
// sound server's cadence; the stand-in "hears" a scripted conversation by the audio time it has
// received), live turns at an accelerated pace (2,000 by default, one every 0.12 s of audio),
// live analyses, coaching on demand, a pause, and at the end the final transcription, analysis,
// sealed save, backup and history. The application's window is open over the view model with the
// conversation room on screen, drawing every frame the room asks for.
//
// A pass runs from one wait of the event dispatcher to the next; its work is the GUI thread's own
// CPU time in between (CLOCK_THREAD_CPUTIME_ID), so neither the wait nor the time the scheduler
// gives to other threads and processes counts. The passes that take a live analysis are also
// counted apart. The resident memory is sampled through the run: at the start of the recording,
// every minute of it, at its end, after the finish and after a rest. Each figure comes with the
// load average of the machine at the time.
//
// For every live turn it also notes the wall time from the live session handing the turn to the
// view model to the swap of the first frame after the rows changed, and of the first frame that
// shows its row in view (RowLatencyProbe); it reports both over the last hundred turns and for
// the last turn.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" scripts/with-virtual-microphone
//       build-bench/benchmarks/lumora_conversation_benchmarks [--turns=N] [--turn-seconds=S]
//       [--no-heap-release] [--arena-max=N]
//
// The renderer is the one the application chooses (without a graphics device, as under Xvfb:
// the software renderer, on the GUI thread); QSG_RHI_BACKEND=opengl draws with OpenGL (under
// Xvfb: Mesa's llvmpipe) instead. The run prints which one drew and whether frames were
// synchronised on the GUI thread. The list scrolls to a new row in 200 ms unless motion is
// reduced (LUMORA_REDUCE_MOTION=1), when it jumps; the run says which.
//
// With LUMORA_STALL_TRACE set, the stack of the GUI thread is printed whenever one pass has used
// more than 8 ms of its CPU time.
#include "BenchmarkProbes.hpp"
#include "ControlPlaneProcess.hpp"
#include "FontRegistrar.hpp"
#include "HeapRelease.hpp"
#include "MotionPreference.hpp"
#include "ObjectSearch.hpp"
#include "PassProbe.hpp"
#include "RowLatencyProbe.hpp"
#include "SceneRenderer.hpp"
#include "SecureUpdateController.hpp"
#include "ShellSessionAdapter.hpp"
#include "SpeechStandInProcess.hpp"
#include "appcore/CheckinService.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "appcore/PairingService.hpp"
#include "appcore/SessionCoordinator.hpp"
#include "domain/PairingPolicy.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "persistence/RecordingAgreementStore.hpp"
#include "providers/ControlPlaneBootstrap.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "providers/DeepgramClient.hpp"
#include "security/MemoryKeyStore.hpp"
#include "viewmodel/CheckinReminderScheduler.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <functional>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <qcoro/qcorotask.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace lumora;

int turnCount = 2000;
double turnSeconds = 0.12;
// As the application: the freed heap goes back after each finish (--no-heap-release turns it
// off); --arena-max=N caps glibc's malloc arenas before any thread starts.
bool releaseHeap = true;
int arenaMax = 0;

constexpr double passLimitMs = 8.0;

using benchmarks::threadCpuNs;

QString loadAverage()
{
    return QString::fromStdString(benchmarks::loadAverage());
}

double residentMegabytes()
{
    QFile file(QStringLiteral("/proc/self/statm"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const qint64 pages = QString::fromLatin1(file.readAll()).section(u' ', 1, 1).toLongLong();
    return double(pages) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The live turns the view model holds so far, for telling when a long pass came.
qsizetype liveTurnsSoFar = 0;

// The GUI thread's CPU clock, readable from the watchdog thread too.
clockid_t guiClock;
pthread_t guiThread;
// Where the last pass ended on that clock; the one under way began there.
std::atomic<qint64> passStartedNs { 0 };

// With LUMORA_STALL_TRACE set: when one pass has used more than 8 ms of the GUI thread's CPU,
// a watchdog thread makes it print its stack once.
void printStack(int)
{
    void* frames[48];
    const int count = ::backtrace(frames, 48);
    static const char marker[] = "--- long pass of the GUI thread\n";
    [[maybe_unused]] const ssize_t written = ::write(2, marker, sizeof marker - 1);
    ::backtrace_symbols_fd(frames, count, 2);
}
void watchPasses(std::atomic<bool>* running)
{
    qint64 reported = 0;
    while (*running) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const qint64 started = passStartedNs.load();
        if (started != 0 && started != reported
            && threadCpuNs(guiClock) - started > qint64(passLimitMs * 1e6)) {
            reported = started;
            pthread_kill(guiThread, SIGUSR2);
        }
    }
}

// Resident memory and the load average at named moments of the run.
struct MemorySample {
    QString moment;
    double residentMB;
    QString load;
};

// The desktop's reminders, which this run never shows.
class NoReminders final : public CheckinReminderScheduler {
public:
    QCoro::Task<NotificationPermission> requestPermission() override
    {
        co_return NotificationPermission::refused;
    }
    QCoro::Task<void> schedule(QDateTime) override { co_return; }
    QCoro::Task<void> removePending() override { co_return; }
};

// Runs the event loop until the condition holds (looked at every 10 ms); false when the time
// ran out first.
bool spinUntil(const std::function<bool()>& condition, int milliseconds)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (condition())
            loop.quit();
    });
    check.start(10);
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    return condition();
}

template <typename T> T await(QCoro::Task<T> task)
{
    return QCoro::waitFor(std::move(task));
}

// A conversation of `count` turns, one every `every` seconds of audio, the seats taking turns,
// from lines that carry the words the rule-based analysis reacts to (behaviours, fouls, steps).
QString writeScript(const QString& folder, int count, double every)
{
    static const char* const lines[] = {
        "We keep getting stuck in the same cycle again and again",
        "You never listen to me when I talk about the money",
        "I hear you and I want to understand what you mean",
        "Can we take a breath and calm down for a moment",
        "Underneath it all I am afraid that you will leave",
        "What I'm hearing is that you feel alone with the bills",
        "From my side it felt like you did not care at all",
        "I'm sorry, that is a fair point and I appreciate it",
        "And another thing, remember when you forgot my birthday",
        "This week I can turn toward you when you come home",
    };
    QJsonArray utterances;
    for (int n = 0; n < count; ++n) {
        const double at = 1.0 + every * n;
        const QStringList tokens = QString::fromLatin1(lines[n % std::size(lines)]).split(u' ');
        const double step = every * 0.8 / double(tokens.size());
        QJsonArray words;
        for (qsizetype i = 0; i < tokens.size(); ++i)
            words.append(QJsonObject { { "word", tokens[i].toLower() }, { "punctuated_word", tokens[i] },
                { "start", at + step * double(i) }, { "end", at + step * double(i + 1) } });
        utterances.append(QJsonObject { { "speaker", n % 2 }, { "words", words } });
    }
    const QString path = QDir(folder).filePath("script.json");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(QJsonObject { { "utterances", utterances } }).toJson());
    return path;
}

// The development sign-in, as a person completes it in the browser.
DeviceRegistration signIn(const QUrl& base, const DeviceIdentity& device, QNetworkAccessManager& manager)
{
    const QString state = ControlPlaneBootstrap::newState();
    const auto page = await(ControlPlaneBootstrap::beginWebAppleAuthorization(base, device, state, manager));
    if (!page)
        return {};
    QUrlQuery form;
    form.addQueryItem("request", QUrlQuery(*page).queryItemValue("request"));
    form.addQueryItem("name", "Ada and Bob");
    const auto submitted = lumora::testing::sendRequest(manager, "POST", base.resolved(QUrl("/dev/sign-in")),
        form.toString(QUrl::FullyEncoded).toUtf8(),
        { { "Content-Type", "application/x-www-form-urlencoded" } });
    const QUrl callback(QString::fromLatin1(submitted.header("Location")));
    const auto registration = await(ControlPlaneBootstrap::completeWebAppleAuthorization(
        base, QUrlQuery(callback).queryItemValue("ticket"), state, device, manager));
    return registration.value_or(DeviceRegistration {});
}

// The application's window over the view model as the program opens it (the same QML, the
// desktop's motion preference, the first size it takes on its screen), with the conversation
// room on screen.
class RoomWindow {
public:
    explicit RoomWindow(SessionViewModel& model)
        : m_session(model, &QDateTime::currentDateTimeUtc)
        , m_updates(std::nullopt, std::nullopt, QStringLiteral("0.1.0"))
    {
        FontRegistrar::registerFonts(QStringLiteral(LUMORA_FONT_FOLDER));
        m_engine.addImportPath(QStringLiteral("qrc:/"));
        m_engine.setInitialProperties({
            { QStringLiteral("model"), QVariant::fromValue<QObject*>(&m_session) },
            { QStringLiteral("updates"), QVariant::fromValue<QObject*>(&m_updates) },
            { QStringLiteral("theoryURL"), QUrl(QStringLiteral("https://lumora.app/theory/")) },
        });
        m_engine.load(QUrl(QStringLiteral("qrc:/Lumora/Shell/Main.qml")));
        if (!m_engine.rootObjects().isEmpty())
            m_window = qobject_cast<QQuickWindow*>(m_engine.rootObjects().constFirst());
        if (!m_window)
            return;
        if (MotionPreference* motion = MotionPreference::of(m_engine)) {
            motion->followDesktop();
            m_reducesMotion = motion->reduceMotion();
        }
        // The renderer is known on the thread that renders, once its context is current.
        QObject::connect(
            m_window, &QQuickWindow::sceneGraphInitialized, m_window,
            [this] {
                QString name = QStringLiteral("software");
                if (QOpenGLContext* context = QOpenGLContext::currentContext()) {
                    const auto* renderer
                        = reinterpret_cast<const char*>(context->functions()->glGetString(GL_RENDERER));
                    name = QStringLiteral("OpenGL: ") + QString::fromLatin1(renderer ? renderer : "?");
                }
                const std::lock_guard lock(m_rendererMutex);
                m_renderer = name;
            },
            Qt::DirectConnection);
        m_window->resize(QSize(1180, 760));
        m_window->show();
        spinUntil([this] { return m_window->isExposed(); }, 10000);
        m_room = lumora::testing::findUnder(m_window->contentItem(), QStringLiteral("roomState"));
        m_transcript = qobject_cast<QQuickItem*>(
            lumora::testing::findUnder(m_window->contentItem(), QStringLiteral("transcript")));
    }
    RoomWindow(const RoomWindow&) = delete;
    RoomWindow& operator=(const RoomWindow&) = delete;

    [[nodiscard]] QQuickWindow* window() const { return m_window; }
    [[nodiscard]] QQuickItem* transcript() const { return m_transcript; }
    [[nodiscard]] bool reducesMotion() const { return m_reducesMotion; }
    // The room's transcript rows, null when the room is not there.
    [[nodiscard]] QAbstractItemModel* rows() const
    {
        return m_room ? m_room->property("rows").value<QAbstractItemModel*>() : nullptr;
    }
    // Whether the room's transcript list shows (itself and everything it sits in), and its rows.
    [[nodiscard]] bool showsTranscript() const { return m_transcript && m_transcript->isVisible(); }
    [[nodiscard]] int transcriptCount() const
    {
        return m_transcript ? m_transcript->property("count").toInt() : 0;
    }
    [[nodiscard]] QString renderer() const
    {
        const std::lock_guard lock(m_rendererMutex);
        return m_renderer;
    }

private:
    ShellSessionAdapter m_session;
    SecureUpdateController m_updates;
    // Last, so that the window goes before the objects it reads.
    QQmlApplicationEngine m_engine;
    QQuickWindow* m_window = nullptr;
    QObject* m_room = nullptr;
    QPointer<QQuickItem> m_transcript;
    bool m_reducesMotion = false;
    mutable std::mutex m_rendererMutex;
    QString m_renderer = QStringLiteral("not initialised");
};

// The median, 99th percentile and longest of `values`.
struct Spread {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};
Spread spreadOf(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const auto at
        = [&](double fraction) { return values[std::size_t(fraction * double(values.size() - 1))]; };
    return { at(0.5), at(0.99), values.back() };
}

// The two servers of a run over TLS on loopback, the speech stand-in "hearing" the script.
class Servers {
public:
    explicit Servers(const QString& folder)
    {
        if (!m_certificates.valid())
            return;
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(QSslCertificate::fromPath(m_certificates.caCertificate()));
        QSslConfiguration::setDefaultConfiguration(tls);
        const QStringList serverTls { "--tls-cert", m_certificates.serverCertificate(), "--tls-key",
            m_certificates.serverKey() };
        speech.emplace(QStringList { "--script", writeScript(folder, turnCount, turnSeconds) } + serverTls);
        controlPlane.emplace(
            QStringList { "--dev-sign-in", "--speech-token-secret", speech->secretPath() } + serverTls);
    }
    [[nodiscard]] bool started() const
    {
        return speech && controlPlane && speech->started() && controlPlane->started();
    }
    void stop()
    {
        speech->stop();
        controlPlane->stop();
    }

    std::optional<lumora::testing::SpeechStandInProcess> speech;
    std::optional<lumora::testing::ControlPlaneProcess> controlPlane;

private:
    lumora::testing::TestCertificates m_certificates;
};

// The view model's surroundings as the program gives them, in `home`, against `servers`.
SessionEnvironment environmentFor(const QTemporaryDir& home, const Servers& servers, QSettings& preferences)
{
    SessionEnvironment environment;
    environment.arguments = QStringList { QStringLiteral("lumora") };
    environment.info = InfoResource(QJsonObject { { "CFBundleShortVersionString", "1.4" },
        { "CFBundleVersion", "37" }, { "LMControlPlaneURL", servers.controlPlane->baseUrl().toString() },
        { "LMSpeechServiceURL", servers.speech->baseUrl().toString() } });
    environment.preferences = &preferences;
    const auto keychain = std::make_shared<MemoryKeyStore>();
    environment.keychain = [keychain] { return keychain; };
    const QString support = home.filePath("data");
    environment.applicationSupport = [support] { return support; };
    environment.temporaryRoot = home.filePath("tmp/Lumora-Conversation");
    environment.reminderScheduler = std::make_shared<NoReminders>();
    environment.microphonePermission
        = []() -> QCoro::Task<std::expected<void, NativeAudioCaptureError>> { co_return {}; };
    return environment;
}

// Signs a new device in and hands the view model its services, as the sign-in does; false
// when the account could not be read afterwards.
bool connectAccount(SessionViewModel& model, const Servers& servers, QNetworkAccessManager& manager,
    const QString& temporaryRoot)
{
    const QUrl base = servers.controlPlane->baseUrl();
    const DeviceIdentity identity(P256PrivateKey::generate().value());
    const DeviceRegistration registration = signIn(base, identity, manager);
    const auto client = std::make_shared<ControlPlaneClient>(base, registration.deviceID, identity, manager);
    model.adoptServices({ client,
        ConversationBackupService::create(client, model.resultStore(), model.backupStore()),
        PairingService::create(client, PairingPolicy::version.toString()), CheckinService::create(client) });
    model.adoptCoordinator(SessionCoordinator::create(client, client,
        std::make_shared<DeepgramClient>(manager, servers.speech->baseUrl()), client, client,
        model.resultStore(), *TemporaryConversationStore::create(temporaryRoot), *model.marks()));
    return await(model.refreshAfterConversation());
}

// What one conversation measured, from the press of Start to the end of its finish.
struct Measures {
    benchmarks::PassProbe recording { passLimitMs, [] { return liveTurnsSoFar; } };
    benchmarks::PassProbe finishing { passLimitMs };
    QList<MemorySample> memory;
    qsizetype turns = 0;
    qsizetype insights = 0;
    QString recordingLoad;
    QString finishLoad;
    bool transcriptShown = false;
    int transcriptRows = 0;

    void sample(const QString& moment) { memory.append({ moment, residentMegabytes(), loadAverage() }); }
};

// The partners' own doings while the script plays: coaching for one side every twenty seconds,
// turn about, and half-way a five-second break; the memory every minute.
void converse(SessionViewModel& model, Measures& measures, double seconds)
{
    QEventLoop conversation;
    int side = 0;
    QTimer coaching;
    QObject::connect(&coaching, &QTimer::timeout, [&] { model.requestContextualNudgeFor(side++); });
    coaching.start(20'000);
    QTimer minutes;
    int minute = 0;
    QObject::connect(&minutes, &QTimer::timeout,
        [&] { measures.sample(QStringLiteral("recording, minute %1").arg(++minute)); });
    minutes.start(60'000);
    const int half = int(seconds * 500);
    QTimer::singleShot(half, &model, [&] { model.togglePause(); });
    QTimer::singleShot(half + 5000, &model, [&] { model.togglePause(); });
    QTimer::singleShot(int(seconds * 1000) + 5000, &conversation, &QEventLoop::quit);
    conversation.exec();
}

// Records one conversation of the script's length and finishes it: the seconds from its start
// to the end of its finish, nothing when it did not start.
std::optional<double> recordConversation(SessionViewModel& model, const RoomWindow& room,
    benchmarks::RowLatencyProbe& rowLatency, Measures& measures, double seconds)
{
    measures.sample(QStringLiteral("before the recording"));
    model.requestToggleRecording();
    if (!spinUntil([&] { return model.isRecording() || model.errorMessage(); }, 30000)
        || !model.isRecording())
        return std::nullopt;
    QElapsedTimer wall;
    wall.start();
    measures.recording.start();
    rowLatency.start();
    measures.sample(QStringLiteral("recording started"));
    converse(model, measures, seconds);
    // The last turns of the script are the stand-in's to give at the close.
    measures.turns = model.liveTurns().size();
    measures.recording.stop();
    measures.recordingLoad = loadAverage();
    measures.transcriptShown = room.showsTranscript();
    measures.transcriptRows = room.transcriptCount();
    if (const QString path = qEnvironmentVariable("LUMORA_STALL_SCREENSHOT"); !path.isEmpty())
        room.window()->grabWindow().save(path);
    measures.sample(QStringLiteral("recording ended"));
    measures.finishing.start();
    model.requestToggleRecording();
    spinUntil([&] { return !model.isRecording() && !model.isProcessing() && model.runningOperations() == 0; },
        600'000);
    measures.finishing.stop();
    rowLatency.stop();
    measures.finishLoad = loadAverage();
    measures.sample(QStringLiteral("finished"));
    return double(wall.nsecsElapsed()) / 1e9;
}

// The GUI thread's passes while recording and while finishing.
void reportPasses(benchmark::State& state, const Measures& measures)
{
    state.counters["recording_longest_pass_ms"] = measures.recording.longest();
    state.counters["recording_p99_pass_ms"] = measures.recording.percentile(0.99);
    state.counters["recording_passes"] = double(measures.recording.passes());
    state.counters["recording_passes_over_8ms"] = double(measures.recording.over(passLimitMs));
    // Passes over 8 ms are a handful in a run on a fast machine: half that bound counts enough of
    // the longer passes to compare two builds.
    state.counters["recording_passes_over_4ms"] = double(measures.recording.over(passLimitMs / 2));
    // The passes that take a live analysis (its findings reach the rows, corners, gauges and arc
    // at once): about one pass in a hundred and forty, yet half or more of those over 8 ms.
    state.counters["analysis_passes"] = double(measures.recording.markedPasses());
    state.counters["analysis_pass_mean_ms"] = measures.recording.markedMean();
    state.counters["analysis_passes_over_4ms"] = double(measures.recording.markedOver(passLimitMs / 2));
    state.counters["analysis_passes_over_8ms"] = double(measures.recording.markedOver(passLimitMs));
    state.counters["finish_longest_pass_ms"] = measures.finishing.longest();
    state.counters["finish_p99_pass_ms"] = measures.finishing.percentile(0.99);
    state.counters["finish_passes"] = double(measures.finishing.passes());
    state.counters["finish_passes_over_8ms"] = double(measures.finishing.over(passLimitMs));
    for (const benchmarks::PassProbe::LongPass& pass : measures.recording.longPasses())
        std::fprintf(stderr, "pass over 8 ms in the recording after live turn %lld: %.2f ms\n",
            (long long)pass.moment, pass.milliseconds);
    for (const benchmarks::PassProbe::LongPass& pass : measures.finishing.longPasses())
        std::fprintf(stderr, "pass over 8 ms in the finish: %.2f ms\n", pass.milliseconds);
}

// From a live turn's arrival to the frame that shows its row: the last hundred turns and the
// last one.
void reportRowLatency(benchmark::State& state, const benchmarks::RowLatencyProbe& rowLatency,
    const RoomWindow& room, const Measures& measures)
{
    std::vector<benchmarks::RowLatencyProbe::Row> shown = rowLatency.rows();
    std::sort(shown.begin(), shown.end(), [](const auto& a, const auto& b) { return a.number < b.number; });
    std::vector<double> lastHundred;
    std::vector<double> lastHundredToSync;
    std::vector<double> lastHundredFirstFrame;
    for (auto row = shown.rbegin(); row != shown.rend() && lastHundred.size() < 100; ++row) {
        lastHundred.push_back(row->milliseconds);
        lastHundredToSync.push_back(row->toSynchronisation);
        lastHundredFirstFrame.push_back(row->firstFrame);
    }
    std::vector<double> all;
    for (const auto& row : shown)
        all.push_back(row.milliseconds);
    const Spread recent = spreadOf(lastHundred);
    state.counters["row_frame_last100_p50_ms"] = recent.p50;
    state.counters["row_frame_last100_p99_ms"] = recent.p99;
    state.counters["row_frame_last100_max_ms"] = recent.max;
    const Spread recentToSync = spreadOf(lastHundredToSync);
    const Spread recentFirstFrame = spreadOf(lastHundredFirstFrame);
    state.counters["row_first_frame_last100_p50_ms"] = recentFirstFrame.p50;
    state.counters["row_first_frame_last100_p99_ms"] = recentFirstFrame.p99;
    state.counters["row_first_frame_last100_max_ms"] = recentFirstFrame.max;
    state.counters["row_first_frame_last_turn_ms"] = shown.empty() ? 0 : shown.back().firstFrame;
    state.counters["row_sync_last100_p50_ms"] = recentToSync.p50;
    state.counters["row_sync_last100_max_ms"] = recentToSync.max;
    state.counters["row_frame_all_max_ms"] = spreadOf(all).max;
    state.counters["row_frame_last_turn_ms"] = shown.empty() ? 0 : shown.back().milliseconds;
    state.counters["row_frame_last_turn"] = shown.empty() ? 0 : double(shown.back().number);
    state.counters["row_frame_turns_unseen"] = double(rowLatency.unseen());
    std::fprintf(stderr,
        "window: %s, frames synchronised on the %s, motion %s; transcript %s with %d rows at the end of the "
        "recording\n",
        qPrintable(room.renderer()), rowLatency.syncsOnGuiThread() ? "GUI thread" : "render thread",
        room.reducesMotion() ? "reduced" : "not reduced",
        measures.transcriptShown ? "on screen" : "NOT on screen", measures.transcriptRows);
    const long long lastTurn = shown.empty() ? 0LL : (long long)shown.back().number;
    std::fprintf(stderr,
        "final message to the first frame after its row changed, last %zu turns: "
        "p50 %.2f ms, p99 %.2f ms, max %.2f ms; turn %lld: %.2f ms\n",
        lastHundredFirstFrame.size(), recentFirstFrame.p50, recentFirstFrame.p99, recentFirstFrame.max,
        lastTurn, shown.empty() ? 0.0 : shown.back().firstFrame);
    std::fprintf(stderr,
        "final message to its row in view on screen, last %zu turns: "
        "p50 %.2f ms, p99 %.2f ms, max %.2f ms; turn %lld: %.2f ms (load average %s)\n",
        lastHundred.size(), recent.p50, recent.p99, recent.max, lastTurn,
        shown.empty() ? 0.0 : shown.back().milliseconds, qPrintable(measures.finishLoad));
    std::fprintf(stderr,
        "  of which to the synchronisation that had the row in view: "
        "p50 %.2f ms, p99 %.2f ms, max %.2f ms; turn %lld: %.2f ms\n",
        recentToSync.p50, recentToSync.p99, recentToSync.max, lastTurn,
        shown.empty() ? 0.0 : shown.back().toSynchronisation);
}

// The load and the resident memory through the run, and what the heap release cost.
void printMemory(const Measures& measures, qint64 releaseCpuNs)
{
    std::fprintf(stderr, "load average during the recording at its end: %s; at the end of the finish: %s\n",
        qPrintable(measures.recordingLoad), qPrintable(measures.finishLoad));
    if (releaseCpuNs >= 0)
        std::fprintf(stderr, "returning the freed heap took %.2f ms of its pool thread's CPU time\n",
            double(releaseCpuNs) / 1e6);
    std::fprintf(stderr, "heap release after the finish: %s; malloc arenas: %s\n", releaseHeap ? "on" : "off",
        arenaMax > 0 ? qPrintable(QString::number(arenaMax)) : "glibc's default");
    for (const MemorySample& point : std::as_const(measures.memory))
        std::fprintf(stderr, "resident %7.1f MB  %-32s (load average %s)\n", point.residentMB,
            qPrintable(point.moment), qPrintable(point.load));
}

void conversationPasses(benchmark::State& state)
{
    if (qEnvironmentVariableIsEmpty("LUMORA_TEST_MICROPHONE")) {
        state.SkipWithError("no virtual microphone: run under scripts/with-virtual-microphone");
        return;
    }
    // The script's turns, a second before them and two after.
    const double seconds = 1.0 + turnSeconds * turnCount + 2.0;
    QTemporaryDir home;
    if (!home.isValid()) {
        state.SkipWithError("no folder");
        return;
    }
    Servers servers(home.path());
    if (!servers.started()) {
        state.SkipWithError("the servers did not start");
        return;
    }
    QSettings preferences(home.filePath("preferences.ini"), QSettings::IniFormat);
    if (!RecordingAgreementStore(preferences, RecordingAgreementStore::standardKey()).accept()) {
        state.SkipWithError("the recording agreement could not be stored");
        return;
    }
    SessionViewModel model(environmentFor(home, servers, preferences));
    // The release's own CPU time on the pool thread that runs it.
    std::atomic<qint64> releaseCpuNs { -1 };
    HeapRelease heap(HeapRelease::defaultDelay, [&releaseCpuNs] {
        const qint64 began = threadCpuNs();
        const bool returned = HeapRelease::returnFreedHeap();
        releaseCpuNs = threadCpuNs() - began;
        return returned;
    });
    if (releaseHeap)
        QObject::connect(&model, &SessionViewModel::conversationFinished, &heap, &HeapRelease::request);
    spinUntil([&] { return model.isStartUpFinished() && model.runningOperations() == 0; }, 30000);
    QNetworkAccessManager manager;
    if (!connectAccount(model, servers, manager, home.filePath("tmp/Lumora-Conversation"))) {
        state.SkipWithError("the account could not be read");
        return;
    }

    // Each live turn's arrival is noted before the room takes it: this connection is made
    // before the window's.
    benchmarks::RowLatencyProbe* latency = nullptr;
    QObject::connect(&model, &SessionViewModel::liveTurnsChanged, [&] {
        liveTurnsSoFar = model.liveTurns().size();
        if (latency)
            latency->arrived(liveTurnsSoFar);
    });
    RoomWindow room(model);
    if (!room.window() || !room.rows() || !room.transcript()) {
        state.SkipWithError("the window or its conversation room did not load");
        return;
    }
    benchmarks::RowLatencyProbe rowLatency(*room.rows(), *room.transcript(), *room.window());
    latency = &rowLatency;

    Measures measures;
    QObject::connect(&model, &SessionViewModel::liveSummaryChanged, [&] {
        ++measures.insights;
        measures.recording.mark();
    });
    QObject::connect(
        &heap, &HeapRelease::released, [&] { measures.sample(QStringLiteral("freed heap returned")); });
    for (auto _ : state) {
        const std::optional<double> recorded = recordConversation(model, room, rowLatency, measures, seconds);
        if (!recorded) {
            state.SkipWithError("the conversation did not start");
            return;
        }
        state.SetIterationTime(*recorded);
    }
    if (model.errorMessage() || model.results().isEmpty()) {
        const std::string reason = "the conversation was not saved: " + model.statusText().toStdString();
        state.SkipWithError(reason.c_str());
        return;
    }
    spinUntil([] { return false; }, 10'000);
    measures.sample(QStringLiteral("ten seconds after the finish"));

    reportPasses(state, measures);
    state.counters["live_turns"] = double(measures.turns);
    state.counters["live_insights"] = double(measures.insights);
    state.counters["review_turns"]
        = double(model.results().first().transcript.value_or(QList<SpeakerTurn> {}).size());
    reportRowLatency(state, rowLatency, room, measures);
    printMemory(measures, releaseCpuNs);
    servers.stop();
}

BENCHMARK(conversationPasses)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--arena-max=", 12) == 0) {
            arenaMax = std::max(1, std::atoi(argv[i] + 12));
            HeapRelease::limitArenas(arenaMax);
        }
    }
    QGuiApplication application(argc, argv);
    // The renderer the application would choose on this machine.
    SceneRenderer::chooseForThisMachine();
    std::vector<char*> kept;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--turns=", 8) == 0)
            turnCount = std::max(10, std::atoi(argv[i] + 8));
        else if (std::strncmp(argv[i], "--turn-seconds=", 15) == 0)
            turnSeconds = std::max(0.05, std::atof(argv[i] + 15));
        else if (std::strcmp(argv[i], "--no-heap-release") == 0)
            releaseHeap = false;
        else if (std::strncmp(argv[i], "--arena-max=", 12) == 0)
            continue; // taken before the application started its threads
        else
            kept.push_back(argv[i]);
    }
    int count = int(kept.size());
    benchmark::Initialize(&count, kept.data());
    guiThread = pthread_self();
    ::pthread_getcpuclockid(guiThread, &guiClock);
    std::atomic<bool> watching = true;
    std::thread watchdog;
    if (!qEnvironmentVariableIsEmpty("LUMORA_STALL_TRACE")) {
        // The first backtrace loads its unwinder, which allocates: done here, not in the handler.
        void* warm[1];
        (void)::backtrace(warm, 1);
        std::signal(SIGUSR2, printStack);
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
            [] { passStartedNs = threadCpuNs(guiClock); });
        watchdog = std::thread(watchPasses, &watching);
    }
    benchmark::RunSpecifiedBenchmarks();
    watching = false;
    if (watchdog.joinable())
        watchdog.join();
    benchmark::Shutdown();
    return 0;
}
