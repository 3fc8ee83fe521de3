// What the History page costs the GUI thread: the review of a 2,000-turn conversation opened
// over the page until its first frame is drawn, the same review left alone until its whole
// transcript is there (each pass of the event loop), and a 1,000-entry history republished with one
// entry changed (the rows that change counted; one is right), as the bare rows and as the page
// laid out. The render loop is the basic one, so the thread's CPU time (CLOCK_THREAD_CPUTIME_ID)
// holds the whole frame: building, laying out, syncing and drawing. The load average is printed
// beside each figure. Run under a display (xvfb-run); without one it renders offscreen.
#include "BenchmarkProbes.hpp"
#include "FontRegistrar.hpp"
#include "HistoryModel.hpp"
#include "PassProbe.hpp"
#include "ReviewSheet.hpp"
#include "ReviewTranscript.hpp"
#include "domain/TurnGrouping.hpp"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>

Q_IMPORT_QML_PLUGIN(Lumora_ThemePlugin)
Q_IMPORT_QML_PLUGIN(Lumora_RoomsPlugin)
Q_IMPORT_QML_PLUGIN(Lumora_HistoryPlugin)

namespace {

using namespace lumora;
using benchmarks::loadAverage;
using benchmarks::threadCpuNs;

// The page's model with nothing behind it: a review is fetched at once, and the rest is
// ignored.
class StillHistoryModel final : public HistoryModel {
public:
    std::optional<DerivedSessionResult> fetched;

    const QList<DerivedSessionResult>& results() const override { return m_results; }
    int conversationsKeptLocal() const override { return 0; }
    MigrationChoice migrationChoice() const override { return NotAnswered; }
    bool hasBackupService() const override { return true; }
    QString errorMessage() const override { return {}; }
    bool refreshFailed() const override { return false; }
    void synchronize(bool) override { }
    void hide(const QString&) override { }
    void unhide(const QString&) override { }
    void approveDeletion(const QString&) override { }
    void declineDeletion(const QString&) override { }
    void backUpKeptLocal() override { }
    QString participantName(int speaker) const override
    {
        return speaker % 2 == 0 ? QStringLiteral("Sam") : QStringLiteral("Alex");
    }
    void dismissError() override { }

protected:
    void recordResultReviewed() override { }
    QCoro::Task<std::optional<DerivedSessionResult>> fetchReview(ConversationHistoryEntry) override
    {
        // A copy: QCoro moves from a returned member.
        std::optional<DerivedSessionResult> review = fetched;
        co_return review;
    }
    QCoro::Task<std::optional<ConversationDeletionOutcome>> deleteEntry(ConversationHistoryEntry) override
    {
        co_return std::nullopt;
    }
    DeletionKind deletionKindOf(const ConversationHistoryEntry&) const override { return Immediate; }

private:
    QList<DerivedSessionResult> m_results;
};

QDateTime completedAt(int index)
{
    return QDateTime(QDate(2026, 2, 9), QTime(19, 30), QTimeZone::utc()).addSecs(-3600LL * index);
}

ConversationHistoryEntry entryOf(int index)
{
    ConversationHistoryEntry entry;
    entry.id = QUuid::createUuid();
    entry.title = QStringLiteral("Conversation %1").arg(index);
    entry.completedAt = completedAt(index);
    entry.duration = 1800;
    entry.turns = 120;
    entry.backup = ConversationBackupDisplayState::backedUp;
    return entry;
}

// A reviewed conversation of `turns` turns, the seats taking turns, each a paragraph of its
// own, a counted moment every fifth turn.
DerivedSessionResult reviewOf(int turns)
{
    static const char* const lines[] = {
        "We keep getting stuck in the same cycle again and again, and I do not know how to stop it.",
        "You never listen to me when I talk about the money, it is as if it does not matter.",
        "I hear you and I want to understand what you mean when you say that it feels that way.",
        "Underneath it all I am afraid that you will leave, and I do not say it because it is hard.",
    };
    static constexpr std::array codes { BehaviorCode::criticism, BehaviorCode::repair,
        BehaviorCode::defensiveness, BehaviorCode::positive };
    QList<SpeakerTurn> transcript;
    QList<BehaviorAnnotation> annotations;
    for (int n = 0; n < turns; ++n) {
        transcript.append(SpeakerTurn(n % 2, n * 6.0, n * 6.0 + 5, QString::fromLatin1(lines[n % 4])));
        if (n % 5 == 0)
            annotations.append(
                BehaviorAnnotation(n, n % 2, codes[(n / 5) % codes.size()], 0.8, n * 6.0, n * 6.0 + 2));
    }
    DerivedSessionResult review;
    review.id = QUuid::createUuid();
    review.title = QStringLiteral("The money");
    review.completedAt = completedAt(0);
    review.duration = turns * 6.0;
    review.stats = TurnGrouping::stats(TurnGrouping::group(transcript));
    review.annotations = annotations;
    review.fouls = QList<ProcessFoulAnnotation> {};
    review.summary = QStringLiteral("A long talk about the money, with a repair at the end.");
    review.transcript = transcript;
    return review;
}

// Lists one entry whose review, of `turns` turns, the model fetches at once; its id.
QString listReviewOf(StillHistoryModel& model, int turns)
{
    model.setDateTexts(DateTexts(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc()));
    model.fetched = reviewOf(turns);
    ConversationHistoryEntry entry = entryOf(0);
    entry.localID = model.fetched->id;
    entry.turns = turns;
    model.entries()->replace({ entry });
    return entry.id.toString(QUuid::WithoutBraces);
}

// The History page over the model in a window of the common desktop size, shown, its first
// frame drawn.
struct Page {
    std::unique_ptr<QQmlEngine> engine = std::make_unique<QQmlEngine>();
    std::unique_ptr<QQuickWindow> window;

    explicit Page(HistoryModel& model)
    {
        engine->addImportPath(QStringLiteral("qrc:/"));
        QQmlComponent component(engine.get());
        component.setData(R"(
            import QtQuick
            import QtQuick.Controls
            import Lumora.History
            ApplicationWindow {
                id: window
                required property HistoryModel history
                width: 1180
                height: 760
                HistoryView {
                    anchors.fill: parent
                    model: window.history
                }
            })",
            QUrl());
        window.reset(qobject_cast<QQuickWindow*>(
            component.createWithInitialProperties({ { "history", QVariant::fromValue<QObject*>(&model) } })));
        if (!window)
            qFatal("%s", qPrintable(component.errorString()));
        window->show();
        nextFrame();
    }
    ~Page()
    {
        window.reset();
        engine.reset();
    }
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    // Runs the events until the window has drawn its next frame; false when none came.
    bool nextFrame() const
    {
        QEventLoop loop;
        bool drawn = false;
        const auto swapped = QObject::connect(window.get(), &QQuickWindow::frameSwapped, &loop, [&] {
            drawn = true;
            loop.quit();
        });
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        window->requestUpdate();
        loop.exec();
        QObject::disconnect(swapped);
        return drawn;
    }
};

// The review opens over the page (fetched at once) until the frame that shows it is drawn,
// then closes again; only the opening counts. The first opening also makes the sheet's
// delegates for the first time, and is reported apart.
void reviewToFirstFrame(benchmark::State& state)
{
    StillHistoryModel model;
    const QString entryID = listReviewOf(model, int(state.range(0)));
    Page page(model);

    double wallMs = 0;
    double firstCpuMs = -1;
    double firstWallMs = 0;
    double worstMs = 0;
    int opened = 0;
    int rowsDrawn = 0;
    for (auto _ : state) {
        QElapsedTimer wall;
        wall.start();
        const qint64 before = threadCpuNs();
        model.openReview(entryID);
        const bool drawn = page.nextFrame();
        const double cpu = double(threadCpuNs() - before) / 1e9;
        if (!drawn || !model.reviewSheet()->isOpen()) {
            state.SkipWithError("the review did not open");
            return;
        }
        const double elapsedMs = double(wall.nsecsElapsed()) / 1e6;
        if (firstCpuMs < 0) {
            firstCpuMs = cpu * 1000;
            firstWallMs = elapsedMs;
        }
        wallMs += elapsedMs;
        worstMs = std::max(worstMs, cpu * 1000);
        rowsDrawn = model.reviewSheet()->transcript()->rowCount();
        ++opened;
        state.SetIterationTime(cpu);
        model.closeReview();
        page.nextFrame();
    }
    state.counters["first_open_cpu_ms"] = firstCpuMs;
    state.counters["first_open_wall_ms"] = firstWallMs;
    state.counters["wall_ms"] = wallMs / opened;
    state.counters["worst_cpu_ms"] = worstMs;
    state.counters["paragraphs"] = double(TurnGrouping::group(*model.fetched->transcript).size());
    state.counters["rows_made"] = rowsDrawn;
    state.SetLabel("load average " + loadAverage());
}
BENCHMARK(reviewToFirstFrame)->Arg(2000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// The review opens over the page (fetched at once) and is left alone until its whole transcript is
// there and drawn, as a screen reader needs it: the GUI thread's work in each pass of its event
// loop meanwhile (nobody touches the window), against a frame at 60 frames a second.
void reviewOpeningPasses(benchmark::State& state)
{
    constexpr double frameMs = 1000.0 / 60;
    StillHistoryModel model;
    const QString entryID = listReviewOf(model, int(state.range(0)));
    Page page(model);
    ReviewTranscript& transcript = *model.reviewSheet()->transcript();

    benchmarks::PassProbe passes(frameMs, [&] { return qsizetype(transcript.rowCount()); });
    double wholeAfterMs = 0;
    int rows = 0;
    for (auto _ : state) {
        passes.start();
        QElapsedTimer wall;
        wall.start();
        model.openReview(entryID);
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (model.reviewSheet()->isOpen() && !transcript.hasMore())
                loop.quit();
        });
        check.start(50);
        QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
        loop.exec();
        wholeAfterMs = double(wall.nsecsElapsed()) / 1e6;
        // The frames that draw the last rows.
        QTimer::singleShot(250, &loop, &QEventLoop::quit);
        loop.exec();
        passes.stop();
        if (transcript.hasMore()) {
            state.SkipWithError("the transcript did not come whole");
            return;
        }
        rows = transcript.rowCount();
        state.SetIterationTime(wholeAfterMs / 1000);
        model.closeReview();
        page.nextFrame();
    }
    for (const benchmarks::PassProbe::LongPass& pass : passes.longPasses())
        std::fprintf(stderr, "pass over a frame with %lld rows shown: %.2f ms\n",
            static_cast<long long>(pass.moment), pass.milliseconds);
    state.counters["passes"] = double(passes.passes());
    state.counters["longest_pass_ms"] = passes.longest();
    state.counters["mean_pass_ms"] = passes.mean();
    state.counters["passes_over_a_frame"] = double(passes.over(frameMs));
    state.counters["whole_after_s"] = wholeAfterMs / 1000;
    state.counters["rows"] = rows;
    state.SetLabel("load average " + loadAverage());
}
BENCHMARK(reviewOpeningPasses)->Arg(2000)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

// Counts the rows a model reports changed.
struct ChangedRows {
    int rows = 0;
    int resets = 0;
    explicit ChangedRows(const QAbstractItemModel& model)
    {
        QObject::connect(&model, &QAbstractItemModel::dataChanged,
            [this](const QModelIndex& from, const QModelIndex& to) { rows += to.row() - from.row() + 1; });
        QObject::connect(&model, &QAbstractItemModel::modelReset, [this] { ++resets; });
    }
};

// Each republish renames one entry in the middle, back and forth, and carries the other 999
// as they were, as the view model publishes its history whole.
void republish(benchmark::State& state, bool laidOut)
{
    StillHistoryModel model;
    QList<ConversationHistoryEntry> entries;
    for (int index = 0; index < state.range(0); ++index)
        entries.append(entryOf(index));
    model.entries()->replace(entries);
    std::unique_ptr<Page> page = laidOut ? std::make_unique<Page>(model) : nullptr;
    ChangedRows all(*model.entries());
    ChangedRows visible(*model.visibleEntries());

    const int middle = int(entries.size() / 2);
    const QString title = *entries[middle].title;
    int republished = 0;
    for (auto _ : state) {
        entries[middle].title = republished % 2 == 0 ? QStringLiteral("Renamed") : title;
        const qint64 before = threadCpuNs();
        model.entries()->replace(entries);
        if (page && !page->nextFrame()) {
            state.SkipWithError("no frame was drawn");
            return;
        }
        state.SetIterationTime(double(threadCpuNs() - before) / 1e9);
        ++republished;
    }
    state.counters["rows"] = double(model.entries()->rowCount());
    state.counters["changed_rows_per_republish"] = double(all.rows) / republished;
    state.counters["visible_changed_rows_per_republish"] = double(visible.rows) / republished;
    state.counters["resets"] = double(all.resets + visible.resets);
    state.SetLabel("load average " + loadAverage());
}

void republishOneChange(benchmark::State& state)
{
    republish(state, false);
}
BENCHMARK(republishOneChange)->Arg(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

void republishOneChangeOnThePage(benchmark::State& state)
{
    republish(state, true);
}
BENCHMARK(republishOneChangeOnThePage)
    ->Arg(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every frame's work on the thread that is measured.
    if (qEnvironmentVariableIsEmpty("QSG_RENDER_LOOP"))
        qputenv("QSG_RENDER_LOOP", "basic");
    qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
    QGuiApplication app(argc, argv);
    FontRegistrar::registerFonts(QStringLiteral(LUMORA_FONT_FOLDER));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
