// What the control plane's own analysis costs for the longest request it takes: 2,000 turns of
// one speaker, so that every pair of turns is compared for a repeated point, at 10 and at 80
// distinct topic words a turn. The analysing thread's CPU time (CLOCK_THREAD_CPUTIME_ID); the
// load average is printed beside it.
#include "BenchmarkProbes.hpp"
#include "analysis/RuleBasedAnalyzer.hpp"
#include "wire/AnalysisRubric.hpp"

#include <benchmark/benchmark.h>

namespace {

using namespace lumora;

AnalysisProviderPayload longRequest(int wordsPerTurn)
{
    AnalysisProviderPayload payload;
    payload.pass = AnalysisPass::final;
    payload.rubricVersion = toString(AnalysisRubric::conversation);
    for (int turn = 0; turn < 2000; ++turn) {
        QStringList words;
        // Words of four letters and more that differ from turn to turn, a few shared.
        for (int n = 0; n < wordsPerTurn; ++n)
            words.append(QStringLiteral("topic%1x").arg(QString::number((turn * 7 + n * 13) % 5000, 26)
                                                             .replace(QRegularExpression(QStringLiteral("[0-9]")),
                                                                 QStringLiteral("q"))));
        payload.turns.append(SpeakerTurn(0, turn * 5.0, turn * 5.0 + 4, words.join(u' ')));
    }
    return payload;
}

void analyseLongRequest(benchmark::State& state)
{
    const RuleBasedAnalyzer analyzer;
    const AnalysisProviderPayload request = longRequest(int(state.range(0)));
    qint64 cpu = 0;
    qint64 runs = 0;
    for (auto _ : state) {
        const qint64 before = benchmarks::threadCpuNs();
        benchmark::DoNotOptimize(analyzer.analyze(request));
        cpu += benchmarks::threadCpuNs() - before;
        ++runs;
    }
    state.counters["cpu_ms"] = double(cpu) / 1e6 / double(runs);
    state.SetLabel("load " + benchmarks::loadAverage());
}

BENCHMARK(analyseLongRequest)->Arg(10)->Arg(80)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
