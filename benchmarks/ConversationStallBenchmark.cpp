// How long the GUI thread's event loop stalls while the view model runs one long conversation
// with real parts: the control plane and the speech stand-in as processes on loopback TLS, the
// microphone of scripts/with-virtual-microphone (its silence arrives at the sound server's
// cadence; the stand-in "hears" a scripted conversation by the audio time it has received),
// live turns, live analyses, coaching on demand, a pause, and at the end the final
// transcription, analysis, sealed save, backup and history. A 2 ms precise timer on the GUI
// thread notes how late each of its ticks comes; a stall is the gap between two ticks beyond
// the interval.
//
//   scripts/with-virtual-microphone build/benchmarks/lumora_conversation_benchmarks [--minutes=N]
//
// The conversation lasts 20 minutes unless --minutes says otherwise. With LUMORA_STALL_TRACE set,
// the stack of the GUI thread is printed whenever it has not ticked for 10 ms.
#include "ControlPlaneProcess.hpp"
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

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
#include <execinfo.h>
#include <functional>
#include <pthread.h>
#include <qcoro/qcorotask.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace lumora;

double minutes = 20;

constexpr int probeIntervalMs = 2;

// The GUI thread's last probe tick, on a clock that the watchdog thread reads too.
QElapsedTimer processClock;
std::atomic<qint64> lastTickNs { 0 };

// Notes, on the thread that starts it, how late each tick of a fine repeating timer comes, and
// whether the scheduler took the thread off its core meanwhile (an involuntary context switch:
// on a loaded machine that alone makes a tick late, without any work of the program's).
class StallProbe {
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(probeIntervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            lastTickNs = processClock.nsecsElapsed();
            const long preemptions = involuntarySwitches();
            const double late = double(now - m_last) / 1e6 - probeIntervalMs;
            m_lateness.push_back(late);
            if (preemptions == m_preemptions)
                m_unpreempted = std::max(m_unpreempted, late);
            m_last = now;
            m_preemptions = preemptions;
        });
    }

    void start()
    {
        m_lateness.clear();
        m_unpreempted = 0;
        m_clock.start();
        m_last = 0;
        m_preemptions = involuntarySwitches();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }

    [[nodiscard]] double longest() const
    {
        return m_lateness.empty() ? 0 : *std::max_element(m_lateness.begin(), m_lateness.end());
    }
    // The longest stall during which the thread was never preempted: the program's own.
    [[nodiscard]] double longestUnpreempted() const { return m_unpreempted; }
    [[nodiscard]] double percentile(double fraction) const
    {
        if (m_lateness.empty())
            return 0;
        std::vector<double> sorted = m_lateness;
        const auto at = sorted.begin() + qsizetype(fraction * double(sorted.size() - 1));
        std::nth_element(sorted.begin(), at, sorted.end());
        return *at;
    }
    [[nodiscard]] qsizetype ticks() const { return qsizetype(m_lateness.size()); }

private:
    static long involuntarySwitches()
    {
        rusage usage {};
        ::getrusage(RUSAGE_THREAD, &usage);
        return usage.ru_nivcsw;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    long m_preemptions = 0;
    double m_unpreempted = 0;
    std::vector<double> m_lateness;
};

// With LUMORA_STALL_TRACE set: when the GUI thread has not ticked for 10 ms, a watchdog thread
// makes it print its stack once, to find what holds it.
pthread_t guiThread;
void printStack(int)
{
    void* frames[48];
    const int count = ::backtrace(frames, 48);
    static const char marker[] = "--- stalled GUI thread\n";
    (void)::write(2, marker, sizeof marker - 1);
    ::backtrace_symbols_fd(frames, count, 2);
}
void watchStalls(std::atomic<bool>* running)
{
    qint64 reported = 0;
    while (*running) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const qint64 last = lastTickNs.load();
        if (last != 0 && last != reported && processClock.nsecsElapsed() - last > 10'000'000) {
            reported = last;
            pthread_kill(guiThread, SIGUSR2);
        }
    }
}

// The desktop's reminders, which this run never shows.
class NoReminders final : public CheckinReminderScheduler {
public:
    QCoro::Task<bool> requestPermission() override { co_return false; }
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

// A conversation of `seconds`: one utterance every four seconds, the seats taking turns, from
// lines that carry the words the rule-based analysis reacts to (behaviours, fouls, steps).
QString writeScript(const QString& folder, double seconds)
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
    int n = 0;
    for (double at = 1.0; at + 3.5 < seconds; at += 4.0, ++n) {
        const QStringList tokens = QString::fromLatin1(lines[n % std::size(lines)]).split(u' ');
        const double step = 3.0 / double(tokens.size());
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
    const auto page = await(ControlPlaneBootstrap::beginWebAppleAuthorization(base, device, manager));
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
        base, QUrlQuery(callback).queryItemValue("ticket"), manager));
    return registration.value_or(DeviceRegistration {});
}

void conversationStalls(benchmark::State& state)
{
    if (qEnvironmentVariableIsEmpty("LUMORA_TEST_MICROPHONE")) {
        state.SkipWithError("no virtual microphone: run under scripts/with-virtual-microphone");
        return;
    }
    const double seconds = minutes * 60;
    QTemporaryDir home;
    lumora::testing::TestCertificates certificates;
    if (!home.isValid() || !certificates.valid()) {
        state.SkipWithError("no folder or certificates");
        return;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(QSslCertificate::fromPath(certificates.caCertificate()));
    QSslConfiguration::setDefaultConfiguration(tls);
    const QStringList serverTls { "--tls-cert", certificates.serverCertificate(), "--tls-key",
        certificates.serverKey() };
    lumora::testing::SpeechStandInProcess speech(
        QStringList { "--script", writeScript(home.path(), seconds) } + serverTls);
    lumora::testing::ControlPlaneProcess controlPlane(
        QStringList { "--dev-sign-in", "--speech-token-secret", speech.secretPath() } + serverTls);
    if (!speech.started() || !controlPlane.started()) {
        state.SkipWithError("the servers did not start");
        return;
    }

    QSettings preferences(home.filePath("preferences.ini"), QSettings::IniFormat);
    if (!RecordingAgreementStore(preferences, RecordingAgreementStore::standardKey()).accept()) {
        state.SkipWithError("the recording agreement could not be stored");
        return;
    }
    SessionEnvironment environment;
    environment.arguments = QStringList { QStringLiteral("lumora") };
    environment.info = InfoResource(QJsonObject { { "CFBundleShortVersionString", "1.4" },
        { "CFBundleVersion", "37" }, { "LMControlPlaneURL", controlPlane.baseUrl().toString() },
        { "LMSpeechServiceURL", speech.baseUrl().toString() } });
    environment.preferences = &preferences;
    const auto keychain = std::make_shared<MemoryKeyStore>();
    environment.keychain = [keychain] { return keychain; };
    const QString support = home.filePath("data");
    environment.applicationSupport = [support] { return support; };
    environment.temporaryRoot = home.filePath("tmp/Lumora-Conversation");
    environment.reminderScheduler = std::make_shared<NoReminders>();
    environment.microphonePermission = []() -> QCoro::Task<bool> { co_return true; };
    SessionViewModel model(std::move(environment));
    spinUntil([&] { return model.isStartUpFinished() && model.runningOperations() == 0; }, 30000);

    QNetworkAccessManager manager;
    const DeviceIdentity identity(P256PrivateKey::generate().value());
    const DeviceRegistration registration = signIn(controlPlane.baseUrl(), identity, manager);
    const auto client = std::make_shared<ControlPlaneClient>(
        controlPlane.baseUrl(), registration.deviceID, identity, manager);
    model.adoptServices({ client,
        ConversationBackupService::create(client, model.resultStore(), model.backupStore()),
        PairingService::create(client, PairingPolicy::version.toString()), CheckinService::create(client) });
    model.adoptCoordinator(SessionCoordinator::create(client, client,
        std::make_shared<DeepgramClient>(manager, speech.baseUrl()), client, client, model.resultStore(),
        *TemporaryConversationStore::create(home.filePath("tmp/Lumora-Conversation"))));
    if (!await(model.refreshAfterConversation())) {
        state.SkipWithError("the account could not be read");
        return;
    }

    StallProbe recording;
    StallProbe finishing;
    qsizetype turns = 0;
    qsizetype insights = 0;
    QObject::connect(&model, &SessionViewModel::liveSummaryChanged, [&] { ++insights; });
    for (auto _ : state) {
        QElapsedTimer wall;
        model.requestToggleRecording();
        if (!spinUntil([&] { return model.isRecording() || model.errorMessage(); }, 30000)
            || !model.isRecording()) {
            state.SkipWithError("the conversation did not start");
            return;
        }
        wall.start();
        recording.start();
        // The partners' own doings: coaching for one side a minute, turn about, and half-way
        // a five-second break.
        QEventLoop conversation;
        int side = 0;
        QTimer coaching;
        QObject::connect(&coaching, &QTimer::timeout, [&] { model.requestContextualNudgeFor(side++); });
        coaching.start(60'000);
        const int half = int(seconds * 500);
        QTimer::singleShot(half, &model, [&] { model.togglePause(); });
        QTimer::singleShot(half + 5000, &model, [&] { model.togglePause(); });
        QTimer::singleShot(int(seconds * 1000) + 5000, &conversation, &QEventLoop::quit);
        conversation.exec();
        coaching.stop();
        turns = model.liveTurns().size();
        recording.stop();
        finishing.start();
        model.requestToggleRecording();
        spinUntil(
            [&] { return !model.isRecording() && !model.isProcessing() && model.runningOperations() == 0; },
            600'000);
        finishing.stop();
        state.SetIterationTime(double(wall.nsecsElapsed()) / 1e9);
    }
    if (model.errorMessage() || model.results().isEmpty()) {
        const std::string reason = "the conversation was not saved: " + model.statusText().toStdString();
        state.SkipWithError(reason.c_str());
        return;
    }
    state.counters["recording_longest_stall_ms"] = recording.longest();
    state.counters["recording_p99_lateness_ms"] = recording.percentile(0.99);
    state.counters["recording_p999_lateness_ms"] = recording.percentile(0.999);
    state.counters["recording_ticks"] = double(recording.ticks());
    state.counters["recording_longest_own_stall_ms"] = recording.longestUnpreempted();
    state.counters["finish_longest_stall_ms"] = finishing.longest();
    state.counters["finish_longest_own_stall_ms"] = finishing.longestUnpreempted();
    state.counters["finish_p99_lateness_ms"] = finishing.percentile(0.99);
    state.counters["finish_ticks"] = double(finishing.ticks());
    state.counters["live_turns"] = double(turns);
    state.counters["live_insights"] = double(insights);
    state.counters["review_turns"]
        = double(model.results().first().transcript.value_or(QList<SpeakerTurn> {}).size());
    speech.stop();
    controlPlane.stop();
}

BENCHMARK(conversationStalls)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    std::vector<char*> kept;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--minutes=", 10) == 0)
            minutes = std::max(0.25, std::atof(argv[i] + 10));
        else
            kept.push_back(argv[i]);
    }
    int count = int(kept.size());
    benchmark::Initialize(&count, kept.data());
    processClock.start();
    guiThread = pthread_self();
    std::atomic<bool> watching = true;
    std::thread watchdog;
    if (!qEnvironmentVariableIsEmpty("LUMORA_STALL_TRACE")) {
        // The first backtrace loads its unwinder, which allocates: done here, not in the handler.
        void* warm[1];
        (void)::backtrace(warm, 1);
        std::signal(SIGUSR2, printStack);
        watchdog = std::thread(watchStalls, &watching);
    }
    benchmark::RunSpecifiedBenchmarks();
    watching = false;
    if (watchdog.joinable())
        watchdog.join();
    benchmark::Shutdown();
    return 0;
}
