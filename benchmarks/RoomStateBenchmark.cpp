// What the conversation room's own state costs the GUI thread at 2,000 live turns: one more
// turn (the model's update, regrouping with statistics, the transcript rows and the new row
// laid out by the transcript's list), and a look at the live signals and at the floor. The
// room model is the tests' fake, which publishes a change as the view model's adapter does.
#include "ConversationRoomState.hpp"
#include "FakeRoomModel.hpp"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QtQml/qqmlextensionplugin.h>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>

Q_IMPORT_QML_PLUGIN(Lumora_ThemePlugin)
Q_IMPORT_QML_PLUGIN(Lumora_RoomsPlugin)

namespace {

using namespace lumora;

void reportLoad(benchmark::State& state)
{
    double load[1] = { 0 };
    if (getloadavg(load, 1) == 1)
        state.counters["load1"] = load[0];
}

// A recording conversation of `count` turns, seats taking turns every six seconds, each turn
// long enough to be a row of its own.
void speak(testing::FakeRoomModel& model, int count)
{
    model.update([&](auto& s) {
        s.isRecording = true;
        s.currentSessionID = QStringLiteral("benchmark");
        for (int n = 0; n < count; ++n)
            s.turns.append(SpeakerTurn(n % 2, 6.0 * n, 6.0 * n + 5,
                QStringLiteral("I keep coming back to the same thing about our evenings, %1.").arg(n)));
        s.elapsed = 6.0 * count;
    });
}

// The room's state over the fake, appeared; on request with the transcript's list as the stage
// lays it out.
struct Room {
    testing::FakeRoomModel model;
    ConversationRoomState state;
    std::unique_ptr<QQmlEngine> engine;
    std::unique_ptr<QQuickItem> list;

    explicit Room(int turns)
    {
        speak(model, turns);
        state.setModel(&model);
        state.appear();
    }
    void layOut()
    {
        engine = std::make_unique<QQmlEngine>();
        engine->addImportPath(QStringLiteral("qrc:/"));
        QQmlComponent component(engine.get());
        component.setData(R"(
            import QtQuick
            import Lumora.Rooms
            ListView {
                id: transcript
                width: 640
                height: 480
                spacing: 16
                delegate: TranscriptTurn { width: transcript.width }
            })",
            QUrl());
        list.reset(qobject_cast<QQuickItem*>(component.create()));
        if (!list)
            qFatal("%s", qPrintable(component.errorString()));
        list->setProperty("model", QVariant::fromValue(state.rows()));
        showEnd();
    }
    void showEnd()
    {
        QMetaObject::invokeMethod(list.get(), "positionViewAtEnd");
        list->ensurePolished();
    }
};

void oneMoreTurnAt2000(benchmark::State& state)
{
    Room room(2000);
    room.layOut();
    int n = 2000;
    for (auto _ : state) {
        room.model.say(n % 2, 6.0 * n, 6.0 * n + 5, QStringLiteral("And one more thing about tonight."));
        room.showEnd();
        ++n;
    }
    state.counters["rows"] = double(room.state.rows()->count());
    reportLoad(state);
}
// A fixed count, so that the conversation stays near 2,000 turns.
BENCHMARK(oneMoreTurnAt2000)->Unit(benchmark::kMicrosecond)->Iterations(200);

// A new live analysis at 2,000 turns with a finding on every turn and a foul on every fifth: one
// more finding on the newest turn, as each analysis brings, with the transcript's list laid out.
void newAnalysisAt2000(benchmark::State& state)
{
    Room room(2000);
    room.model.update([](auto& s) {
        for (int n = 0; n < 2000; ++n) {
            s.annotations.append(BehaviorAnnotation(
                n, n % 2, n % 2 ? BehaviorCode::criticism : BehaviorCode::repair, 0.8, 6.0 * n, 6.0 * n + 5));
            if (n % 5 == 0)
                s.fouls.append(
                    ProcessFoulAnnotation(n, n % 2, ProcessFoul::globalizing, 0.7, 6.0 * n, 6.0 * n + 5));
        }
    });
    room.layOut();
    int analyses = 0;
    for (auto _ : state) {
        room.model.update([&](auto& s) {
            if (analyses % 2 == 0)
                s.annotations.append(
                    BehaviorAnnotation(1999, 1, BehaviorCode::defensiveness, 0.7, 11994, 11999));
            else
                s.annotations.removeLast();
        });
        room.showEnd();
        ++analyses;
    }
    reportLoad(state);
}
BENCHMARK(newAnalysisAt2000)->Unit(benchmark::kMicrosecond);

void updateSignalsAt2000(benchmark::State& state)
{
    Room room(2000);
    for (auto _ : state)
        room.state.updateSignals();
    reportLoad(state);
}
BENCHMARK(updateSignalsAt2000)->Unit(benchmark::kMicrosecond);

void floorPromptAt2000(benchmark::State& state)
{
    Room room(2000);
    for (auto _ : state)
        benchmark::DoNotOptimize(room.state.floorPrompt());
    reportLoad(state);
}
BENCHMARK(floorPromptAt2000)->Unit(benchmark::kMicrosecond);

} // namespace
