// What the control plane's nonce writer spends on one signed request: a batch of fresh nonces
// of active devices recorded on SQLite in one commit, as the writer does it, for batch sizes
// from a lone request to a busy server's. The writing thread's CPU time (CLOCK_THREAD_CPUTIME_ID)
// per claim is the figure, the kernel's share of the log's writes included; the load average
// is printed beside it. The table starts with a day's nonces in it, as a running server's does.
// Each claim lands on a page of its own among those of its second, so that a larger batch saves
// the commit but not the pages it writes.
#include "BenchmarkProbes.hpp"
#include "ControlPlaneBenchmarkStore.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/IdText.hpp"
#include "controlplane/NonceWriter.hpp"

#include <benchmark/benchmark.h>

namespace {

using namespace lumora;

using benchmarks::loadAverage;
using benchmarks::threadCpuNs;

constexpr qint64 now = benchmarks::ControlPlaneBenchmarkStore::now;

struct NonceStore : benchmarks::ControlPlaneBenchmarkStore {
    QList<DeviceRecord> devices;

    NonceStore()
    {
        store->leaveCheckpoints();
        for (int n = 0; n < 16; ++n)
            devices.append(signIn(QStringLiteral("device %1").arg(n), QStringLiteral("key-%1").arg(n)));
        // A day of one request a second.
        QList<NonceClaim> earlier;
        for (int n = 0; n < 86'400; ++n) {
            earlier.append(claim(n, now - 86'400 + n));
            if (earlier.size() == NonceWriter::largestBatch) {
                NonceWriter::record(*store, earlier);
                earlier.clear();
            }
        }
        store->checkpoint();
    }

    NonceClaim claim(int n, qint64 at) const
    {
        const DeviceRecord& device = devices.at(n % devices.size());
        return NonceClaim { device.id, "device:" + idText(device.id), QUuid::createUuid(), at };
    }
};

void recordBatch(benchmark::State& state)
{
    static NonceStore nonces;
    const auto size = static_cast<qsizetype>(state.range(0));
    qint64 cpu = 0;
    qint64 claims = 0;
    int batches = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // As the server's upkeep does, so that the log stays short.
        if (++batches % 256 == 0)
            nonces.store->checkpoint();
        QList<NonceClaim> batch;
        // Requests signed at 30,000 a second, as on a busy server: the claims of one second
        // share their time.
        for (qsizetype n = 0; n < size; ++n)
            batch.append(nonces.claim(int(n), now + (claims + n) / 30'000));
        state.ResumeTiming();
        const qint64 before = threadCpuNs();
        benchmark::DoNotOptimize(NonceWriter::record(*nonces.store, batch));
        cpu += threadCpuNs() - before;
        claims += size;
    }
    state.counters["cpu_us_per_claim"] = double(cpu) / 1e3 / double(claims);
    state.SetLabel("load " + loadAverage());
}

BENCHMARK(recordBatch)->Arg(1)->Arg(3)->Arg(16)->Arg(64)->Arg(256)->Unit(benchmark::kMicrosecond);

} // namespace
