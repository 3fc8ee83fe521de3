// The resident memory of the application at rest after its start, beside that of a bare Qt Quick
// window of the same size (BareWindow.cpp) measured the same way in the same run: each program
// is started in a fresh home under the same display, left alone for a while (20 s unless
// --idle-seconds=N says otherwise), and its VmRSS read from /proc. The application runs with
// --ui-smoke --ui-narrow (a local account, no server, a 920 by 680 window). The two take turns,
// three times each; the load average is printed beside each figure.
//
//   scripts/with-test-session xvfb-run -a -s "-screen 0 1920x1080x24"
//       build-bench/benchmarks/lumora_memory_benchmarks
#include "BenchmarkProbes.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <cstring>

namespace {

using lumora::benchmarks::freshHome;
using lumora::benchmarks::loadAverage;

int idleSeconds = 20;

// VmRSS of a process in megabytes; 0 when it cannot be read.
double residentMegabytes(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

// Starts the program in a fresh home, lets it rest and returns its resident memory.
double restingMegabytes(const QString& program, const QStringList& arguments)
{
    QTemporaryDir home;
    QProcess process;
    process.setProcessEnvironment(freshHome(home));
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return 0;
    QThread::sleep(idleSeconds);
    const double resident = process.state() == QProcess::Running ? residentMegabytes(process.processId()) : 0;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
    return resident;
}

void idleMemory(benchmark::State& state)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("no display: run under xvfb-run");
        return;
    }
    double application = 0;
    double bare = 0;
    int runs = 0;
    for (auto _ : state) {
        const std::string loadBefore = loadAverage();
        const double app = restingMegabytes(QStringLiteral(LUMORA_PROGRAM), { "--ui-smoke", "--ui-narrow" });
        const double window = restingMegabytes(QStringLiteral(BARE_WINDOW_PROGRAM), {});
        if (app <= 0 || window <= 0) {
            state.SkipWithError("a program did not stay up");
            return;
        }
        std::fprintf(stderr,
            "application %.1f MB, bare window %.1f MB, difference %.1f MB (load average %s, then %s)\n", app,
            window, app - window, loadBefore.c_str(), loadAverage().c_str());
        application += app;
        bare += window;
        ++runs;
        state.SetIterationTime(1);
    }
    state.counters["application_mb"] = application / runs;
    state.counters["bare_window_mb"] = bare / runs;
    state.counters["difference_mb"] = (application - bare) / runs;
    state.SetLabel("load average " + loadAverage());
}

BENCHMARK(idleMemory)->UseManualTime()->Iterations(3)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    std::vector<char*> kept;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--idle-seconds=", 15) == 0)
            idleSeconds = std::max(1, std::atoi(argv[i] + 15));
        else
            kept.push_back(argv[i]);
    }
    int count = int(kept.size());
    benchmark::Initialize(&count, kept.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
