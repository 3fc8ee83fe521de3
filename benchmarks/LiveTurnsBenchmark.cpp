// What the live session does with one final provider message late in a conversation:
// decode it into settled turns and hand each on (to the turn handler and the batcher).
// Nothing here may grow with the conversation's length.
#include "providers/DeepgramLiveSession.hpp"
#include "providers/LiveAnalysisBatcher.hpp"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <benchmark/benchmark.h>

namespace {

using namespace lumora;

// A final result of twelve words, the first eight of one speaker and the rest of the other,
// in the provider's full format (with the fields the session does not read).
QByteArray finalMessage(double at)
{
    QJsonArray words;
    for (int i = 0; i < 12; ++i) {
        const QString word = QStringLiteral("word%1").arg(i);
        words.append(QJsonObject { { "word", word }, { "punctuated_word", word + u',' },
            { "start", at + 0.3 * i }, { "end", at + 0.3 * i + 0.25 }, { "confidence", 0.97 },
            { "speaker", i < 8 ? 0 : 1 }, { "speaker_confidence", 0.8 } });
    }
    const QJsonObject alternative { { "transcript", "..." }, { "confidence", 0.97 }, { "words", words } };
    const QJsonObject message { { "type", "Results" }, { "channel_index", QJsonArray { 0, 1 } },
        { "duration", 3.6 }, { "start", at }, { "is_final", true }, { "speech_final", true },
        { "channel", QJsonObject { { "alternatives", QJsonArray { alternative } } } },
        { "metadata", QJsonObject { { "request_id", "5e3b7c1a-0000-4000-8000-000000000000" } } } };
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

void finalMessageAtTurn2000(benchmark::State& state)
{
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    LiveAnalysisBatcher batcher;
    qint64 turns = 0;
    // 1,998 turns of conversation before the measured message.
    for (; turns < 1998; ++turns)
        benchmark::DoNotOptimize(batcher.append(SpeakerTurn(turns % 2, turns, turns + 1, "earlier"), start));
    const QByteArray message = finalMessage(2000.0);
    qint64 handedOn = 0;
    for (auto _ : state) {
        for (const SpeakerTurn& turn : DeepgramLiveSession::settledTurns(message)) {
            ++handedOn;
            auto batch = batcher.append(turn, start.addSecs(turns++));
            benchmark::DoNotOptimize(batch);
        }
    }
    state.counters["turns"] = benchmark::Counter(double(handedOn), benchmark::Counter::kAvgIterations);
}
BENCHMARK(finalMessageAtTurn2000)->Unit(benchmark::kMicrosecond);

} // namespace
