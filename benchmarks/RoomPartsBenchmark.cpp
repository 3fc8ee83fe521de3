// What the room's painted and counted pieces cost on the GUI thread late in a long
// conversation: drawing the emotional arc over a thousand counted moments, and reading a
// partner corner (its summary, gauge counts and coaching starter) over two thousand
// annotations. Each figure is the thread's CPU time, with the machine's load beside it.
#include "EmotionalArcChart.hpp"
#include "PartnerCornerState.hpp"
#include "SignalSummaryModel.hpp"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

using namespace lumora;

constexpr std::array codes { BehaviorCode::criticism, BehaviorCode::repair, BehaviorCode::defensiveness,
    BehaviorCode::positive, BehaviorCode::contempt, BehaviorCode::stonewalling };

// `count` moments of both seats over an hour, every one above the confidence floor, with a
// foul after every ninth.
RoomMoments conversation(int count)
{
    RoomMoments moments;
    for (int index = 0; index < count; ++index) {
        const double start = 3600.0 * index / count;
        moments.annotations.append(BehaviorAnnotation(
            index, index % 2, codes[index % codes.size()], 0.6 + 0.3 * (index % 3) / 2, start, start + 2));
        if (index % 9 == 8)
            moments.fouls.append(ProcessFoulAnnotation(
                index, index % 2, ProcessFoul::kitchenSinking, 0.8, start + 1, start + 3));
    }
    return moments;
}

// The load average over the last minute, beside each figure.
void reportLoad(benchmark::State& state)
{
    double load[1] = { 0 };
    if (getloadavg(load, 1) == 1)
        state.counters["load1"] = load[0];
}

// The live arc's chart as the room lays it out, painted once per iteration.
void arcPaint1000(benchmark::State& state)
{
    EmotionalArcChart chart;
    chart.setSize({ 640, 96 });
    chart.setDuration(3600);
    chart.setMoments(conversation(1000));
    QImage image(640, 96, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(Qt::transparent);
        QPainter painter(&image);
        chart.paint(&painter);
    }
    state.counters["points"] = double(chart.points().size());
    reportLoad(state);
}
BENCHMARK(arcPaint1000)->Unit(benchmark::kMicrosecond);

// A new moment arrives: the arc is worked out again from every moment and painted.
void arcNewMoment1000(benchmark::State& state)
{
    EmotionalArcChart chart;
    chart.setSize({ 640, 96 });
    chart.setDuration(3600);
    const RoomMoments before = conversation(999);
    const RoomMoments after = conversation(1000);
    QImage image(640, 96, QImage::Format_ARGB32_Premultiplied);
    bool later = false;
    for (auto _ : state) {
        later = !later;
        chart.setMoments(later ? after : before);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        chart.paint(&painter);
    }
    reportLoad(state);
}
BENCHMARK(arcNewMoment1000)->Unit(benchmark::kMicrosecond);

// A new annotation arrives: a corner reads its seat's summary rows, gauge counts, latest code
// and starter again over all of the room's annotations.
void cornerSummary2000(benchmark::State& state)
{
    SignalSummaryModel summary;
    PartnerCornerState corner;
    summary.setSide(1);
    corner.setCanonicalSide(1);
    corner.setStarter(QStringLiteral("Underneath that, what I’m really feeling is…"));
    const RoomMoments before = conversation(1999);
    const RoomMoments after = conversation(2000);
    bool later = false;
    for (auto _ : state) {
        later = !later;
        summary.setMoments(later ? after : before);
        corner.setMoments(later ? after : before);
        benchmark::DoNotOptimize(summary.momentsText());
        benchmark::DoNotOptimize(corner.genericStarter());
    }
    state.counters["annotations"] = double(after.annotations.size());
    reportLoad(state);
}
BENCHMARK(cornerSummary2000)->Unit(benchmark::kMicrosecond);

} // namespace

// Painted items are Qt Quick items: they need a GUI application, which needs no display.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
