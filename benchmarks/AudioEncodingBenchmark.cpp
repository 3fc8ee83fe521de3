#include "audio/M4aWriter.hpp"
#include "audio/PcmConversion.hpp"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int inputRate = 48000;
constexpr std::size_t blockFrames = 4096;

// Speech-like input: a few tones with a slow swell, so the encoder has real work to do.
std::vector<float> microphoneSamples(std::size_t frames)
{
    std::vector<float> samples(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / inputRate;
        const double swell = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3 * t);
        samples[i] = float(swell
            * (0.3 * std::sin(2 * std::numbers::pi * 220 * t)
                + 0.2 * std::sin(2 * std::numbers::pi * 1330 * t)
                + 0.05 * std::sin(2 * std::numbers::pi * 4100 * t)));
    }
    return samples;
}

// The audio thread's cost of one 4096-frame microphone block in the recording file:
// resampling from 48 kHz to 44.1 kHz, AAC encoding and the container writes.
void encodeOneBlock(benchmark::State& state)
{
    QTemporaryDir folder;
    auto writer = lumora::M4aWriter::create(QDir(folder.path()).filePath("recording.m4a"), inputRate);
    if (!writer) {
        state.SkipWithError("the writer could not be created");
        return;
    }
    const std::vector<float> samples = microphoneSamples(blockFrames * 64);
    std::size_t block = 0;
    for (auto _ : state) {
        const std::span<const float> input(samples.data() + (block % 64) * blockFrames, blockFrames);
        benchmark::DoNotOptimize((*writer)->write(input));
        ++block;
    }
    benchmark::DoNotOptimize((*writer)->finish());
}
BENCHMARK(encodeOneBlock)->Unit(benchmark::kMicrosecond);

// The same block turned into the live stream's 16-bit PCM.
void convertOneBlock(benchmark::State& state)
{
    const std::vector<float> samples = microphoneSamples(blockFrames);
    for (auto _ : state)
        benchmark::DoNotOptimize(lumora::PcmConversion::block(samples.data(), qsizetype(blockFrames)));
}
BENCHMARK(convertOneBlock)->Unit(benchmark::kMicrosecond);

} // namespace
