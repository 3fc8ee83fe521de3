// What the control plane's request thread spends on checking one signed request before its
// nonce is recorded: the header read, the canonical text, the device's key and the signature
// check, beside the signature check alone on the same text. The difference is what the
// request costs beyond the cryptography. The thread's CPU time (CLOCK_THREAD_CPUTIME_ID) per
// request; the load average is printed beside it.
#include "BenchmarkProbes.hpp"
#include "ControlPlaneBenchmarkStore.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/RequestAuthenticator.hpp"
#include "security/DeviceIdentity.hpp"
#include "security/P256PrivateKey.hpp"
#include "security/RequestSigner.hpp"

#include <QDateTime>
#include <benchmark/benchmark.h>

namespace {

using namespace lumora;

using benchmarks::loadAverage;
using benchmarks::threadCpuNs;

constexpr qint64 now = benchmarks::ControlPlaneBenchmarkStore::now;

struct SignedDevice : benchmarks::ControlPlaneBenchmarkStore {
    DeviceIdentity identity { *P256PrivateKey::generate() };
    QUuid device = signIn("Ada", identity.publicKeyBase64URL()).id;

    // A request as the load client sends it, signed afresh.
    HttpRequest request() const
    {
        const auto headers = RequestSigner::sign(identity, device, u"GET", u"/v1/account/state", {},
            QDateTime::fromSecsSinceEpoch(now, Qt::UTC), QUuid::createUuid());
        return HttpRequest { "GET", "/v1/account/state", {},
            { { "Host", "127.0.0.1" }, { "Authorization", headers->authorization().toStdString() } }, {} };
    }
};

SignedDevice& signedDevice()
{
    static SignedDevice device;
    return device;
}

void checkSignedRequest(benchmark::State& state)
{
    SignedDevice& signer = signedDevice();
    RequestAuthenticator authenticator(*signer.store, [] { return now; });
    qint64 cpu = 0;
    qint64 requests = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const HttpRequest request = signer.request();
        state.ResumeTiming();
        const qint64 before = threadCpuNs();
        const auto call = authenticator.checkDeviceSignature(request);
        cpu += threadCpuNs() - before;
        if (!call)
            state.SkipWithError("refused");
        ++requests;
    }
    state.counters["cpu_us_per_request"] = double(cpu) / 1e3 / double(requests);
    state.SetLabel("load " + loadAverage());
}

void checkSignatureAlone(benchmark::State& state)
{
    SignedDevice& signer = signedDevice();
    const QByteArray canonical
        = RequestSigner::canonical(u"GET", u"/v1/account/state", now, QUuid::createUuid(), {});
    const QByteArray signature = signer.identity.privateKey().signature(canonical).value();
    const P256PublicKey key = signer.identity.privateKey().publicKey();
    qint64 cpu = 0;
    qint64 checks = 0;
    for (auto _ : state) {
        const qint64 before = threadCpuNs();
        benchmark::DoNotOptimize(key.isValidSignature(signature, canonical));
        cpu += threadCpuNs() - before;
        ++checks;
    }
    state.counters["cpu_us_per_request"] = double(cpu) / 1e3 / double(checks);
    state.SetLabel("load " + loadAverage());
}

BENCHMARK(checkSignedRequest)->Unit(benchmark::kMicrosecond);
BENCHMARK(checkSignatureAlone)->Unit(benchmark::kMicrosecond);

} // namespace
