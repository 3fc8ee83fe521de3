// Cold start of the application to its first frame: each iteration launches the program with
// --ui-smoke in a fresh home and waits until it has drawn its first frame and quit. Run under
// a display (scripts/benchmark-cold-start uses Xvfb); without one it renders offscreen.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void coldStartToFirstFrame(benchmark::State& state)
{
    QTemporaryDir home;
    for (const char* folder : { "data", "config", "runtime" })
        QDir(home.path()).mkpath(folder);
    QFile::setPermissions(home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
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

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
