// What the control plane's own analysis costs for the longest request it takes: 2,000 turns of
// one speaker, so that every pair of turns may be compared for a repeated point, at 10 and at 80
// topic words a turn, and at 80 of which every turn shares half. The analysing thread's CPU time (CLOCK_THREAD_CPUTIME_ID); the
// load average is printed beside it.
#include "BenchmarkProbes.hpp"
#include "analysis/RuleBasedAnalyzer.hpp"
#include "wire/AnalysisRubric.hpp"

#include <benchmark/benchmark.h>

namespace {

using namespace lumora;

// Letters only: the analysis counts letter runs as words.
QString wordNumbered(int number)
{
    QString word = QStringLiteral("word");
    for (; number > 0; number /= 26)
        word.append(QChar(u'a' + number % 26));
    return word;
}

AnalysisProviderPayload longRequest(int wordsPerTurn, bool halfShared)
{
    AnalysisProviderPayload payload;
    payload.pass = AnalysisPass::final;
    payload.rubricVersion = toString(AnalysisRubric::conversation);
    for (int turn = 0; turn < 2000; ++turn) {
        QStringList words;
        // Words of four letters and more that differ from turn to turn, a few shared.
        // With half of them shared by every turn, every pair overlaps by a third: each is compared.
        for (int n = 0; n < wordsPerTurn; ++n)
            words.append(wordNumbered(halfShared && n < wordsPerTurn / 2 ? n : (turn * 7 + n * 13) % 5000 + 100));
        payload.turns.append(SpeakerTurn(0, turn * 5.0, turn * 5.0 + 4, words.join(u' ')));
    }
    return payload;
}

void analyseLongRequest(benchmark::State& state)
{
    const RuleBasedAnalyzer analyzer;
    const AnalysisProviderPayload request = longRequest(int(state.range(0)), state.range(1) != 0);
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

BENCHMARK(analyseLongRequest)
    ->Args({ 10, 0 })
    ->Args({ 80, 0 })
    ->Args({ 80, 1 })
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
