#include "AgendaNote.hpp"
#include "LiveGuidance.hpp"
#include "PressGuard.hpp"
#include "PrimaryAction.hpp"
#include "RehearsalConversation.hpp"
#include "RoomStatus.hpp"
#include "StageLabels.hpp"
#include "ThemeFonts.hpp"
#include "ThemePalette.hpp"
#include "TranscriptTurnText.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

TEST(RoomStatus, TheFirstHoldingRowGivesTheWordAndThePill)
{
    const struct {
        const char* name;
        bool rehearsal;
        double script;
        bool processing, paused, recording;
        const char* word;
        const char* pill;
        bool live;
    } rows[] = {
        { "idle", false, 0, false, false, false, "", "", false },
        { "recording", false, 0, false, false, true, "listening", "Listening", true },
        { "paused over recording", false, 0, false, true, true, "paused", "Paused", false },
        { "processing over paused", false, 0, true, true, false, "reading it back", "Reading It Back", true },
        { "processing alone: muted", false, 0, true, false, false, "reading it back", "Reading It Back",
            false },
        { "rehearsal over all", true, 140.9, true, true, true, "rehearsal", "Rehearsal", true },
        { "rehearsal at exactly 141", true, 141, false, false, false, "rehearsal ended", "Rehearsal complete",
            true },
        { "script time of no rehearsal", false, 142, false, false, false, "", "", false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString word
            = RoomStatus::word(row.rehearsal, row.script, row.processing, row.paused, row.recording);
        const bool active = row.rehearsal || row.recording || row.paused;
        EXPECT_EQ(word, row.word);
        EXPECT_EQ(RoomStatus::showsPill(row.rehearsal, word), row.rehearsal || !word.isEmpty());
        EXPECT_EQ(RoomStatus::pillLabel(row.rehearsal, row.script, word), row.pill);
        EXPECT_EQ(RoomStatus::dotIsLive(active, word), row.live);
    }
    EXPECT_TRUE(RoomStatus::showsClock(false, true)) << "the clock stays while processing";
    EXPECT_FALSE(RoomStatus::showsClock(false, false));
}

TEST(StageLabels, EachSituationHasItsButtons)
{
    using Flags = StageLabels::Flags;
    const struct {
        const char* name;
        Flags flags;
        const char* label;
        const char* icon;
        const char* spoken;
        bool entries;
        const char* pause;
    } rows[] = {
        { "idle", {}, "Start conversation", "waveform", "Start conversation", true, nullptr },
        { "check-in opening", { .isCheckinOpening = true }, "Start conversation", "waveform",
            "Start conversation", true, nullptr },
        { "starting", { .isStartingConversation = true }, "Starting\u2026", "ellipsis",
            "Starting conversation", false, nullptr },
        { "recording", { .isRecording = true }, "Finish conversation", "stop.fill", "Finish conversation",
            false, "Pause" },
        { "paused", { .isPaused = true }, "Finish conversation", "stop.fill", "Finish conversation", false,
            "Resume" },
        { "processing", { .isProcessing = true }, "Start conversation", "waveform", "Start conversation",
            false, nullptr },
        { "rehearsal", { .rehearsalActive = true }, "End rehearsal", "stop.fill", "End rehearsal", false,
            nullptr },
        { "rehearsal ended", { .rehearsalActive = true, .rehearsalEnded = true }, "Close rehearsal",
            "stop.fill", "Close rehearsal", false, nullptr },
        { "starting under a rehearsal", { .rehearsalActive = true, .isStartingConversation = true },
            "End rehearsal", "ellipsis", "End rehearsal", false, nullptr },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(StageLabels::primaryLabel(row.flags), QString::fromUtf8(row.label));
        EXPECT_EQ(StageLabels::primaryIcon(row.flags), row.icon);
        EXPECT_EQ(StageLabels::primaryAccessibilityLabel(row.flags), row.spoken);
        EXPECT_EQ(StageLabels::showsEntryButtons(row.flags), row.entries);
        EXPECT_EQ(StageLabels::showsPause(row.flags), row.pause != nullptr);
        if (row.pause) {
            EXPECT_EQ(StageLabels::pauseLabel(row.flags), row.pause);
        }
        // Every symbol the stage names has a glyph.
        for (const QString& symbol :
            { StageLabels::primaryIcon(row.flags), StageLabels::pauseIcon(row.flags) })
            EXPECT_FALSE(ThemeFonts::glyph(symbol).isEmpty()) << symbol.toStdString();
    }
    EXPECT_EQ(
        StageLabels::checkinLabel({ .isCheckinOpening = true }), "Getting this week\u2019s prompts\u2026");
    EXPECT_EQ(StageLabels::checkinLabel({}), "Weekly check-in");
    for (const char* symbol : { "arrow.left.arrow.right", "xmark", "exclamationmark.circle.fill",
             "calendar.badge.clock", "play.fill", "arrow.turn.down.right", "timer", "arrow.right" })
        EXPECT_FALSE(ThemeFonts::glyph(symbol).isEmpty()) << symbol;
}

ConversationTurn group(qint64 speaker, QList<std::pair<const char*, bool>> pieces)
{
    QList<ConversationTurnPiece> made;
    qint64 index = 10;
    for (const auto& [text, interjection] : pieces)
        made.append(
            ConversationTurnPiece(index++, interjection ? 1 - speaker : speaker, text, 0, 1, interjection));
    return ConversationTurn(speaker, 0, 1, 1, made);
}

TEST(StageLabels, TheRowKeyCountsRowsAndTheLastRowsPieces)
{
    EXPECT_EQ(StageLabels::latestRowKey({}), "0-0");
    EXPECT_EQ(
        StageLabels::latestRowKey({ group(0, { { "a", false } }), group(1, {}), ConversationTurn() }), "3-0");
    EXPECT_EQ(StageLabels::latestRowKey(
                  { group(0, { { "a", false } }), group(1, { { "b", false }, { "c", true } }) }),
        "2-2");
}

TEST(TranscriptTurnText, TheParagraphSkipsBlankPiecesAndQuotesInterjections)
{
    const ConversationTurn turn = group(
        0, { { "  I <mean> it ", false }, { " \n ", false }, { " Right. ", true }, { "So & then", false } });
    const QString interjection
        = QStringLiteral("<i><font size=\"2\" color=\"%1\">Bob: \u201cRight.\u201d</font></i>");
    EXPECT_EQ(TranscriptTurnText::paragraph(turn, "Bob", 0),
        "I &lt;mean&gt; it " + interjection.arg(ThemePalette::information().name()) + " So &amp; then");
    EXPECT_EQ(TranscriptTurnText::paragraph(turn, "Bob", 1),
        "I &lt;mean&gt; it " + interjection.arg(ThemePalette::positive().name()) + " So &amp; then")
        << "an interjection takes the other side's colour";
    EXPECT_EQ(
        TranscriptTurnText::spokenParagraph(turn, "Bob"), "  I <mean> it   \n  Bob says  Right.  So & then")
        << "spoken: untrimmed, blank pieces kept, no quotation marks";
    EXPECT_EQ(TranscriptTurnText::paragraph(group(0, { { " ", false }, { "", false } }), "Bob", 0), "");
    EXPECT_EQ(TranscriptTurnText::paragraph(group(0, { { "a", false } }), "<b>", 0), "a");
    EXPECT_TRUE(TranscriptTurnText::paragraph(group(0, { { "x", true } }), "<b>", 0).contains("&lt;b&gt;: "));
}

TEST(TranscriptTurnText, TheMostConfidentAnnotationTintsTheRow)
{
    using enum BehaviorCode;
    using Wash = TranscriptTurnText::Wash;
    const struct {
        const char* name;
        QList<BehaviorAnnotation> annotations;
        Wash wash;
    } rows[] = {
        { "none", {}, Wash::none },
        { "warm below the floor", { { 0, 0, repair, 0.2, 0, 1 } }, Wash::warm },
        { "hard wins by confidence", { { 0, 0, positive, 0.6, 0, 1 }, { 0, 0, contempt, 0.7, 0, 1 } },
            Wash::hard },
        { "the first of equals", { { 0, 0, positive, 0.7, 0, 1 }, { 0, 0, contempt, 0.7, 0, 1 } },
            Wash::warm },
    };
    for (const auto& row : rows)
        EXPECT_EQ(TranscriptTurnText::wash(row.annotations), row.wash) << row.name;
}

TEST(AgendaNote, RehearsalThenTheSecondStepsStartUpThenTheLiveNote)
{
    const auto startup = [](bool detected, double confidence) {
        return std::optional(HarshStartupEvidence { detected, confidence, "ignored" });
    };
    const struct {
        const char* name;
        bool rehearsal;
        int step;
        std::optional<HarshStartupEvidence> evidence;
        const char* note;
    } rows[] = {
        { "rehearsal on any step", true, 4, startup(true, 0.9), "moved ahead with you" },
        { "harsh opening at 0.5", false, 1, startup(true, 0.5),
            "opened in the cycle \u2014 try the reach underneath" },
        { "secure opening", false, 1, startup(false, 0.8), "secure opening" },
        { "too unsure", false, 1, startup(true, 0.49), "live note" },
        { "another step", false, 2, startup(true, 0.9), "live note" },
        { "no evidence", false, 1, std::nullopt, "live note" },
    };
    for (const auto& row : rows)
        EXPECT_EQ(
            AgendaNote::note(row.rehearsal, row.step, row.evidence, "live note"), QString::fromUtf8(row.note))
            << row.name;
    EXPECT_EQ(AgendaNote::note(false, 0, std::nullopt, QString()), QString());
}

TEST(PrimaryAction, TheFirstHoldingRowActs)
{
    using Step = PrimaryAction::Step;
    const struct {
        const char* name;
        bool rehearsal, recording, paused;
        RoomModel::Readiness readiness;
        Step step;
    } rows[] = {
        { "rehearsal, never a recording", true, false, false, RoomModel::Ready, Step::endRehearsal },
        { "recording while busy", false, true, false, RoomModel::TemporarilyUnavailable, Step::finish },
        { "paused", false, false, true, RoomModel::NeedsSignIn, Step::finish },
        { "agreement missing", false, false, false, RoomModel::NeedsRecordingAgreement, Step::openSetup },
        { "sign-in missing", false, false, false, RoomModel::NeedsSignIn, Step::openSetup },
        { "busy", false, false, false, RoomModel::TemporarilyUnavailable, Step::notReady },
        { "ready", false, false, false, RoomModel::Ready, Step::start },
    };
    for (const auto& row : rows)
        EXPECT_EQ(PrimaryAction::choose(row.rehearsal, row.recording, row.paused, row.readiness), row.step)
            << row.name;
}

SpeakerTurn spoken(qint64 speaker, double start, double end)
{
    SpeakerTurn turn(0, start, end, "words");
    turn.speaker = speaker; // as the service numbers voices, before any seat reduction
    return turn;
}

TEST(LiveGuidance, TheFloorPromptFollowsTheTrailingRunOfOneSpeakerIndex)
{
    using Prompt = LiveGuidance::FloorPrompt;
    const QList<SpeakerTurn> run { spoken(1, 0, 5), spoken(0, 10, 60), spoken(0, 60, 100) };
    const struct {
        const char* name;
        QList<SpeakerTurn> turns;
        double elapsed;
        bool recording;
        std::optional<double> firstShownAt;
        bool extensionUsed, finalDismissed;
        std::optional<Prompt> prompt;
    } rows[] = {
        { "not recording", run, 500, false, 130, false, false, std::nullopt },
        { "no turns", {}, 500, true, 130, false, false, std::nullopt },
        { "just short of two minutes", run, 129.9, true, {}, false, false, std::nullopt },
        { "exactly two minutes", run, 130, true, {}, false, false, Prompt { 0, false } },
        { "exactly three minutes", run, 190, true, 130, false, false, Prompt { 0, true } },
        { "first dismissed never hides the final", run, 190, true, 130, true, false, Prompt { 0, true } },
        { "first dismissed", run, 150, true, 130, true, false, std::nullopt },
        { "final dismissed shows a first never dismissed", run, 400, true, 130, false, true,
            Prompt { 0, false } },
        { "both dismissed", run, 400, true, 130, true, true, std::nullopt },
        { "speaker 2 after 0 starts a new run", run + QList { spoken(2, 110, 120) }, 230, true, {}, false,
            false, Prompt { 2, false } },
        // The extra minute is never up before the two-minute prompt said it began.
        { "three minutes without the first ever shown", run, 400, true, {}, false, false,
            Prompt { 0, false } },
        { "first shown late, its minute not yet up", run, 259.9, true, 200, false, false,
            Prompt { 0, false } },
        { "first shown late and passed", run, 230, true, 200, true, false, std::nullopt },
        { "first shown late, its minute up", run, 260, true, 200, true, false, Prompt { 0, true } },
        { "shown in an earlier run", run, 190, true, 20, true, false, Prompt { 0, true } },
    };
    for (const auto& row : rows)
        EXPECT_EQ(LiveGuidance::floorPrompt(row.turns, row.elapsed, row.recording, row.firstShownAt,
                      row.extensionUsed, row.finalDismissed),
            row.prompt)
            << row.name;
    EXPECT_EQ(LiveGuidance::floorName(0), "Speaker 2");
    EXPECT_EQ(LiveGuidance::floorName(2), "Speaker 2");
    EXPECT_EQ(LiveGuidance::floorName(1), "Speaker 1");
    EXPECT_EQ(LiveGuidance::floorName(-1), "Speaker 1");
}

TEST(LiveGuidance, ProviderEvidenceQualifiesFrom072AndTheOverlaysTakeTurns)
{
    using Signal = LiveGuidance::CycleSignal;
    const auto evidence = [](bool detected, double confidence) {
        return std::optional(CircularityEvidence { detected, confidence, "point", "why", "how" });
    };
    const struct {
        const char* name;
        std::optional<CircularityEvidence> evidence;
        bool local;
        Signal signal;
    } rows[] = {
        { "exactly 0.72", evidence(true, 0.72), false, { true, 0.72 } },
        { "0.71 alone clears", evidence(true, 0.71), false, { false, 0.72 } },
        { "sure evidence passes its own confidence", evidence(true, 0.9), true, { true, 0.9 } },
        { "not detected, local finding", evidence(false, 0.95), true, { true, 0.72 } },
        { "nothing", std::nullopt, false, { false, 0.72 } },
    };
    for (const auto& row : rows)
        EXPECT_EQ(LiveGuidance::cycleSignal(row.evidence, row.local), row.signal) << row.name;

    const QString standard = "\u201cUnderneath this, what I\u2019m really trying to tell you is\u2026\u201d";
    EXPECT_EQ(LiveGuidance::cycleOpening(std::nullopt), standard);
    EXPECT_EQ(LiveGuidance::cycleOpening(CircularityEvidence { true, 1, "", "", "" }), standard)
        << "empty is absent";
    EXPECT_EQ(LiveGuidance::cycleOpening(CircularityEvidence { true, 1, "", "", "%1 %s" }), "%1 %s");
    EXPECT_EQ(LiveGuidance::cycleRationale(std::nullopt), QString());

    using enum LiveGuidance::Overlay;
    EXPECT_EQ(LiveGuidance::overlay(true, true, true), pause);
    EXPECT_EQ(LiveGuidance::overlay(false, true, true), cycle);
    EXPECT_EQ(LiveGuidance::overlay(false, false, true), floor);
    EXPECT_EQ(LiveGuidance::overlay(false, false, false), none);
}

TEST(RehearsalConversation, TheScriptAndItsClock)
{
    ASSERT_EQ(DemoConversation::turns().size(), 16);
    EXPECT_EQ(DemoConversation::annotations().size(), 13);
    EXPECT_EQ(DemoConversation::fouls().size(), 3);
    EXPECT_EQ(DemoConversation::turns().at(7).text,
        "Wait. I don\u2019t want to do it like this. I\u2019m sorry \u2014 that was mean.");
    EXPECT_EQ(DemoConversation::turns().at(15).end, 141);
    EXPECT_EQ(DemoConversation::fouls().at(1).foul, ProcessFoul::mindReading);

    const struct {
        double time;
        int step;
    } steps[] = { { 0, 0 }, { 21.9, 0 }, { 22.0, 1 }, { 62.9, 1 }, { 63, 2 }, { 121.9, 4 }, { 122.0, 5 },
        { 143, 5 } };
    for (const auto& row : steps)
        EXPECT_EQ(RehearsalConversation::step(row.time), row.step) << row.time;

    // Script time after n ticks, on whole tenths; turn 2 ends at 22 and shows from the first tick
    // at or past it, turn 3's findings with turn 3.
    double time = 0;
    int ticks = 0;
    while (time < 47) {
        time = RehearsalConversation::advanced(time);
        ++ticks;
    }
    EXPECT_EQ(ticks, 79);
    EXPECT_DOUBLE_EQ(time, 47.4);
    EXPECT_EQ(RehearsalConversation::turnCount(21.6), 2);
    EXPECT_EQ(RehearsalConversation::turnCount(22.2), 3);
    EXPECT_EQ(RehearsalConversation::annotationsOfFirst(3).size(), 2);
    EXPECT_EQ(RehearsalConversation::annotationsOfFirst(4).size(), 3);
    EXPECT_EQ(RehearsalConversation::foulsOfFirst(4).size(), 2);
    EXPECT_DOUBLE_EQ(RehearsalConversation::advanced(142.8), 143);
    EXPECT_DOUBLE_EQ(RehearsalConversation::advanced(62.4), 63) << "63 exactly, not a hair below";
}

// A row takes presses until it changes; then not for a second, unless the pointer has moved
// 8 px from where it was when the row changed (or from where it was first seen after).
TEST(PressGuard, ARowThatChangedTakesNoPressUntilASecondPassesOrThePointerMoves)
{
    using namespace std::chrono_literals;
    const PressGuard::Clock::time_point t0 {};
    const struct {
        const char* name;
        std::optional<QPointF> before;
        QList<QPointF> after;
        std::chrono::milliseconds since;
        bool takes;
    } rows[] = {
        { "at once, pointer still", QPointF(100, 100), {}, 0ms, false },
        { "450 ms on, pointer still", QPointF(100, 100), { QPointF(100, 100) }, 450ms, false },
        { "a second on", QPointF(100, 100), {}, 1000ms, true },
        { "a tremble is no move", QPointF(100, 100), { QPointF(104, 103) }, 80ms, false },
        { "a move of 8 px", QPointF(100, 100), { QPointF(108, 100) }, 80ms, true },
        { "moved, then back", QPointF(100, 100), { QPointF(130, 100), QPointF(100, 100) }, 80ms, true },
        { "no pointer before: the first place counts", std::nullopt, { QPointF(50, 50) }, 80ms, false },
        { "no pointer before, then a move", std::nullopt, { QPointF(50, 50), QPointF(50, 70) }, 80ms, true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PressGuard guard;
        EXPECT_TRUE(guard.takesPresses(t0)) << "a row that never changed";
        if (row.before)
            guard.pointerAt(*row.before);
        guard.rowChanged(t0);
        for (const QPointF& point : row.after)
            guard.pointerAt(point);
        EXPECT_EQ(guard.takesPresses(t0 + row.since), row.takes);
    }
}

} // namespace
} // namespace lumora
