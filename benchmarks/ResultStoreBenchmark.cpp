// What a save of a long review costs the thread that calls it: the review of a 2,000-turn
// conversation saved into a fresh store, then saved again over its earlier file. The calling
// thread's own CPU time (CLOCK_THREAD_CPUTIME_ID) from the call to the result counts as its
// share; the encoding, the check, the earlier file, the sealing and the writing happen on a pool
// thread. The load average is printed beside the figures.
#include "BenchmarkProbes.hpp"
#include "domain/TurnGrouping.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "security/MemoryKeyStore.hpp"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <ctime>
#include <qcoro/qcorotask.h>

namespace {

using namespace lumora;

using benchmarks::loadAverage;
using benchmarks::threadCpuNs;

DerivedSessionResult longReview(int turns)
{
    static const char* const lines[] = {
        "We keep getting stuck in the same cycle again and again",
        "You never listen to me when I talk about the money",
        "I hear you and I want to understand what you mean",
        "Underneath it all I am afraid that you will leave",
    };
    QList<SpeakerTurn> transcript;
    QList<BehaviorAnnotation> annotations;
    for (int n = 0; n < turns; ++n) {
        transcript.append(SpeakerTurn(n % 2, n * 2.0, n * 2.0 + 1.8, QString::fromLatin1(lines[n % 4])));
        if (n % 5 == 0)
            annotations.append(
                BehaviorAnnotation(n, n % 2, BehaviorCode::criticism, 0.8, n * 2.0, n * 2.0 + 1));
    }
    DerivedSessionResult review;
    review.id = QUuid::createUuid();
    review.title = QStringLiteral("The money");
    review.completedAt = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    review.duration = turns * 2.0;
    review.stats = TurnGrouping::stats(TurnGrouping::group(transcript));
    review.annotations = annotations;
    review.fouls = QList<ProcessFoulAnnotation> {};
    review.summary = QStringLiteral("A long talk about the money, with a repair at the end.");
    review.transcript = transcript;
    return review;
}

// The calling thread's CPU time and the wall time of one save.
std::pair<double, double> timedSave(EncryptedResultStore& store, const DerivedSessionResult& review)
{
    QElapsedTimer wall;
    wall.start();
    const qint64 before = threadCpuNs();
    const auto saved = QCoro::waitFor(store.save(review));
    const double cpu = double(threadCpuNs() - before) / 1e6;
    if (!saved)
        return { -1, -1 };
    return { cpu, double(wall.nsecsElapsed()) / 1e6 };
}

void saveLongReview(benchmark::State& state)
{
    const DerivedSessionResult review = longReview(int(state.range(0)));
    double firstCpu = 0, firstWall = 0, againCpu = 0, againWall = 0, worstCpu = 0;
    int saves = 0;
    for (auto _ : state) {
        QTemporaryDir folder;
        auto store
            = EncryptedResultStore::create(folder.filePath("Results"), std::make_shared<MemoryKeyStore>());
        if (!store) {
            state.SkipWithError("no store");
            return;
        }
        const auto first = timedSave(**store, review);
        const auto again = timedSave(**store, review);
        if (first.first < 0 || again.first < 0) {
            state.SkipWithError("the save failed");
            return;
        }
        firstCpu += first.first;
        firstWall += first.second;
        againCpu += again.first;
        againWall += again.second;
        worstCpu = std::max({ worstCpu, first.first, again.first });
        if (!qEnvironmentVariableIsEmpty("LUMORA_SAVE_TRACE"))
            std::fprintf(stderr, "save %d: caller %.3f ms (wall %.1f), again %.3f ms (wall %.1f)\n", saves,
                first.first, first.second, again.first, again.second);
        ++saves;
        state.SetIterationTime((first.second + again.second) / 1000);
    }
    state.counters["first_save_caller_cpu_ms"] = firstCpu / saves;
    state.counters["first_save_wall_ms"] = firstWall / saves;
    state.counters["resave_caller_cpu_ms"] = againCpu / saves;
    state.counters["resave_wall_ms"] = againWall / saves;
    state.counters["worst_caller_cpu_ms"] = worstCpu;
    state.SetLabel("load average " + loadAverage());
}

BENCHMARK(saveLongReview)->Arg(2000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace
