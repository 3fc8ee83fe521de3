// Cold start of the application to its first frame: each iteration launches the program with
// --ui-smoke in a fresh home and waits until it has drawn its first frame and quit. Run under
// a display (scripts/benchmark-cold-start uses Xvfb); without one it renders offscreen.
#include "BenchmarkProbes.hpp"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void coldStartToFirstFrame(benchmark::State& state)
{
    QTemporaryDir home;
    QProcessEnvironment environment = lumora::benchmarks::freshHome(home);
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        environment.insert("QT_QPA_PLATFORM", "offscreen");

    for (auto _ : state) {
        QProcess program;
        program.setProcessEnvironment(environment);
        QElapsedTimer elapsed;
        elapsed.start();
        program.start(QStringLiteral(LUMORA_PROGRAM), { "--ui-smoke", "--exit-after-first-frame" });
        if (!program.waitForFinished(30000) || program.exitCode() != 0) {
            state.SkipWithError("the program did not draw a frame and quit");
            break;
        }
        state.SetIterationTime(double(elapsed.nsecsElapsed()) / 1e9);
    }
}

BENCHMARK(coldStartToFirstFrame)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

} // namespace
