#include "CheckinRoomState.hpp"

#include "CheckinPanelTexts.hpp"
#include "FakeRoomModel.hpp"
#include "TranscriptTurnText.hpp"
#include "domain/CheckinPrompt.hpp"
#include "domain/CheckinSection.hpp"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace lumora {
namespace {

CheckinPack packOf(qint64 sections, std::optional<QString> note = std::nullopt, qint64 minutes = 4)
{
    CheckinPack pack;
    pack.week = QStringLiteral("2026-W07");
    pack.note = std::move(note);
    for (qint64 i = 0; i < sections; ++i)
        pack.sections.append(
            CheckinSection { QStringLiteral("s%1").arg(i), QStringLiteral("Section %1").arg(i + 1), minutes,
                { CheckinPrompt { QStringLiteral("Prompt %1").arg(i + 1), std::nullopt } } });
    return pack;
}

// A check-in room over the fake model, as the room's QML makes it.
struct Room {
    Room()
    {
        model.state.checkinPack = packOf(5);
        model.state.checkinFlow = CheckinFlow(5, 0, 0);
        state.setModel(&model);
        state.appear();
    }
    QString nameOfRow(int row, int role = TranscriptRows::NameRole) const
    {
        return state.rows()->data(state.rows()->index(row), role).toString();
    }
    testing::FakeRoomModel model;
    CheckinRoomState state;
};

TEST(CheckinPanelTexts, PacingAndParagraph)
{
    struct Pacing {
        qint64 minutes;
        std::optional<double> elapsed;
        const char* text;
    };
    for (const Pacing& row :
        { Pacing { 4, std::nullopt, "about 4 min" }, Pacing { 4, 187.0, "3:07 · about 4 min" },
            Pacing { 0, std::nullopt, "about 0 min" }, Pacing { 12, 0.0, "0:00 · about 12 min" } })
        EXPECT_EQ(CheckinPanelTexts::pacingText(row.minutes, row.elapsed), QString::fromUtf8(row.text))
            << row.text;

    const auto piece = [](qint64 index, const char* text, bool interjection = false) {
        return ConversationTurnPiece(
            index, interjection ? 1 : 0, QString::fromUtf8(text), 0, 1, interjection);
    };
    struct Paragraph {
        QList<ConversationTurnPiece> pieces;
        const char* text;
    };
    for (const Paragraph& row : {
             Paragraph { {}, "" },
             Paragraph { { piece(0, "We did well"), piece(1, "this week.") }, "We did well this week." },
             Paragraph { { piece(0, "I felt heard"), piece(1, "Yes", true), piece(2, "on Tuesday.") },
                 "I felt heard Bob: “Yes” on Tuesday." },
             Paragraph { { piece(0, "mm", true) }, "Bob: “mm”" },
         }) {
        const ConversationTurn group(0, 0, 1, 1, row.pieces);
        EXPECT_EQ(CheckinPanelTexts::paragraph(group, QStringLiteral("Bob")), QString::fromUtf8(row.text))
            << row.text;
    }
}

const QString liveTranscript
    = QStringLiteral("The final transcript could not be made, so the review uses the live transcript.");
const QString keptHere = QStringLiteral("Your conversation is saved on this computer and ready to review. It "
                                        "reaches your account as soon as it can.");

// How the finish went, under the saved panel's title: the failure over the room says it once,
// and closing the panel puts both away. Before the check-in is saved the panel says nothing, and
// a failure that is not the finish's shows as ever.
TEST(CheckinRoomState, TheSavedPanelSaysHowTheFinishWent)
{
    struct Row {
        bool finished;
        QString finishNotice;
        QString error;
        QString savedNotice;
        QString noticeMessage;
    };
    const QString failed = QStringLiteral("Processing failed. The temporary recording was deleted.");
    for (const Row& row : {
             Row { true, "Check-in saved", "", "", "" },
             Row { true, "Check-in saved. " + liveTranscript, "", liveTranscript, "" },
             Row { true, keptHere, keptHere, keptHere, "" },
             Row { true, "Check-in saved", failed, "", failed },
             Row { true, "Check-in savedish", "", "Check-in savedish", "" },
             Row { true, "", "", "", "" },
             Row { false, keptHere, keptHere, "", keptHere },
             Row { false, "", failed, "", failed },
         }) {
        SCOPED_TRACE(row.finishNotice.toStdString() + " / " + row.error.toStdString());
        Room room;
        room.model.update([&](auto& s) {
            s.isCheckinFinished = row.finished;
            s.finishNotice = row.finishNotice;
            s.errorMessage = row.error;
        });
        EXPECT_EQ(room.state.savedNotice(), row.savedNotice);
        EXPECT_EQ(room.state.noticeMessage(), row.noticeMessage);
    }
    EXPECT_EQ(CheckinRoomState::savedTitle(), "Check-in saved");

    for (const QString& error : { keptHere, failed }) {
        Room room;
        room.model.update([&](auto& s) {
            s.isCheckinFinished = true;
            s.finishNotice = keptHere;
            s.errorMessage = error;
        });
        room.state.closeSaved();
        EXPECT_EQ(room.model.checkinCloses, 1);
        EXPECT_EQ(room.model.state.finishNotice, QString()) << "the conversation room does not say it again";
        EXPECT_EQ(room.model.state.errorMessage, error == keptHere ? QString() : failed);
    }
}

// The primary button, the pause button and the header's pill follow the run flags, first that
// holds winning.
TEST(CheckinRoomState, ButtonsAndPillFollowTheRunFlags)
{
    struct Row {
        bool starting, recording, paused, processing, running, finished;
        const char* primary;
        const char* icon;
        bool primaryEnabled;
        const char* pause;
        const char* pill;
        bool dotLive, showsClock, showsLeave;
    };
    const Row rows[] = {
        { false, false, false, false, false, false, "Start check-in", "waveform", true, "", "", false, false,
            true },
        { true, false, false, false, false, false, "Starting…", "ellipsis", false, "", "", false, false,
            false },
        { false, true, false, false, true, false, "Finish check-in", "stop.fill", true, "Pause", "Listening",
            true, true, false },
        { false, false, true, false, true, false, "Finish check-in", "stop.fill", true, "Resume", "Paused",
            false, true, false },
        { false, false, false, true, true, false, "Saving…", "ellipsis", false, "", "Reading It Back", false,
            true, false },
        // Processing wins over every other flag, starting over processing.
        // (the dot stays positive while a recording flag is up, whatever the word)
        { false, true, true, true, true, false, "Saving…", "ellipsis", false, "Resume", "Reading It Back",
            true, true, false },
        { true, false, false, true, true, false, "Starting…", "ellipsis", false, "", "Reading It Back", false,
            true, false },
        { false, false, false, false, false, true, "Start check-in", "waveform", true, "", "", false, false,
            false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.primary + std::string(" / ") + row.pill);
        Room room;
        room.model.update([&](auto& s) {
            s.isStartingConversation = row.starting;
            s.isRecording = row.recording;
            s.isPaused = row.paused;
            s.isProcessing = row.processing;
            s.isCheckinRunning = row.running;
            s.isCheckinFinished = row.finished;
            s.elapsed = 65.4;
        });
        const CheckinRoomState& state = room.state;
        EXPECT_EQ(state.primaryLabel(), QString::fromUtf8(row.primary));
        EXPECT_EQ(state.primaryIcon(), row.icon);
        EXPECT_EQ(state.primaryEnabled(), row.primaryEnabled);
        EXPECT_EQ(state.showsPause(), *row.pause != 0);
        if (state.showsPause()) {
            EXPECT_EQ(state.pauseLabel(), row.pause);
        }
        EXPECT_EQ(state.showsPill(), *row.pill != 0);
        EXPECT_EQ(state.pillLabel(), row.pill);
        EXPECT_EQ(state.dotLive(), row.dotLive);
        EXPECT_EQ(state.showsClock(), row.showsClock);
        EXPECT_EQ(state.clockText(), "1:05");
        EXPECT_EQ(state.showsLeave(), row.showsLeave);
    }
}

// What the primary button does: finish while live, else as the start readiness asks.
TEST(CheckinRoomState, PrimaryActionFollowsTheReadiness)
{
    const QString notReady = QStringLiteral(
        "Corvane is still getting the room ready. Try Start conversation again in a moment.");
    struct Row {
        bool recording, paused;
        RoomModel::Readiness readiness;
        int finishes, toggles, setups;
        bool notReady;
    };
    for (const Row& row : { Row { true, false, RoomModel::NeedsSignIn, 1, 0, 0, false },
             Row { false, true, RoomModel::TemporarilyUnavailable, 1, 0, 0, false },
             Row { false, false, RoomModel::NeedsRecordingAgreement, 0, 0, 1, false },
             Row { false, false, RoomModel::NeedsSignIn, 0, 0, 1, false },
             Row { false, false, RoomModel::TemporarilyUnavailable, 0, 0, 0, true },
             Row { false, false, RoomModel::Ready, 0, 1, 0, false } }) {
        SCOPED_TRACE(int(row.readiness) * 10 + row.recording + 2 * row.paused);
        Room room;
        room.model.update([&](auto& s) {
            s.isRecording = row.recording;
            s.isPaused = row.paused;
            s.startReadiness = row.readiness;
            s.statusText = QStringLiteral("Ready when you both are");
        });
        QSignalSpy setups(&room.state, &CheckinRoomState::setupRequested);
        room.state.primaryAction();
        EXPECT_EQ(room.model.finishes, row.finishes);
        EXPECT_EQ(room.model.toggles, row.toggles);
        EXPECT_EQ(setups.count(), row.setups);
        EXPECT_EQ(room.model.state.errorMessage, row.notReady ? notReady : QString());
        EXPECT_EQ(
            room.model.state.statusText, row.notReady ? notReady : QStringLiteral("Ready when you both are"));
    }
    Room room;
    room.model.update([](auto& s) { s.errorMessage = QStringLiteral("Microphone access is required."); });
    room.state.dismissNotice();
    EXPECT_TRUE(room.model.state.errorMessage.isEmpty());
}

// The open section, the navigation by the flow's bounds, and the note on the first section only.
TEST(CheckinRoomState, SectionNavigationAndNote)
{
    struct Row {
        const char* name;
        std::optional<CheckinPack> pack;
        std::optional<CheckinFlow> flow;
        bool hasCurrent;
        const char* title;
        bool back, next, note;
    };
    const Row rows[] = {
        { "first of five", packOf(5, "Be kind"), CheckinFlow(5, 0, 0), true, "Section 1", false, true, true },
        { "second", packOf(5, "Be kind"), CheckinFlow(5, 1, 0), true, "Section 2", true, true, false },
        { "last", packOf(5), CheckinFlow(5, 4, 0), true, "Section 5", true, false, false },
        { "only one", packOf(1, "Be kind"), CheckinFlow(1, 0, 0), true, "Section 1", false, false, true },
        { "empty note", packOf(5, ""), CheckinFlow(5, 0, 0), true, "Section 1", false, true, false },
        { "no flow", packOf(5, "Be kind"), std::nullopt, false, "", false, false, false },
        { "no pack", std::nullopt, CheckinFlow(5, 2, 0), false, "", true, true, false },
        { "index past the sections", packOf(2), CheckinFlow(5, 3, 0), false, "", true, true, false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Room room;
        room.model.update([&](auto& s) {
            s.checkinPack = row.pack;
            s.checkinFlow = row.flow;
        });
        const CheckinRoomState& state = room.state;
        EXPECT_EQ(state.hasCurrent(), row.hasCurrent);
        EXPECT_EQ(state.current().title, row.title);
        EXPECT_EQ(state.sectionIndex(), row.flow ? int(row.flow->index()) : 0);
        EXPECT_EQ(state.canGoBack(), row.back);
        EXPECT_EQ(state.canGoNext(), row.next);
        EXPECT_EQ(state.showsPackNote(), row.note);
    }
    Room room;
    EXPECT_EQ(room.state.weekText(), "WEEK OF FEB 9");
    EXPECT_EQ(room.state.total(), 5);
    room.model.update([](auto& s) { s.checkinPack->week = QStringLiteral("2026-W99"); });
    EXPECT_EQ(room.state.weekText(), "THIS WEEK");
}

// The section is timed only while recording or paused, from when it was opened; a suggestion
// is passed only by a positive one, and only strictly after it.
TEST(CheckinRoomState, SectionTiming)
{
    struct Row {
        const char* name;
        qint64 minutes;
        bool recording, paused;
        double opened, elapsed;
        bool timed;
        double inSection;
        bool past;
        const char* pacing;
    };
    const Row rows[] = {
        { "exactly the suggestion", 4, true, false, 60, 300, true, 240, false, "4:00 · about 4 min" },
        { "a second past it", 4, true, false, 60, 301, true, 241, true, "4:01 · about 4 min" },
        { "paused past it", 4, false, true, 0, 250, true, 250, true, "4:10 · about 4 min" },
        { "no suggestion", 0, true, false, 0, 999, true, 999, false, "16:39 · about 0 min" },
        { "not recording", 4, false, false, 0, 500, false, 0, false, "about 4 min" },
        { "clock behind the opening", 4, true, false, 90, 30, true, 0, false, "0:00 · about 4 min" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Room room;
        room.model.update([&](auto& s) {
            s.checkinPack = packOf(5, std::nullopt, row.minutes);
            s.checkinFlow = CheckinFlow(5, 1, row.opened);
            s.isRecording = row.recording;
            s.isPaused = row.paused;
            s.elapsed = row.elapsed;
        });
        EXPECT_EQ(room.state.isTimed(), row.timed);
        EXPECT_DOUBLE_EQ(room.state.elapsedInSection(), row.inSection);
        EXPECT_EQ(room.state.isPastSuggestion(), row.past);
        EXPECT_EQ(room.state.pacingText(), QString::fromUtf8(row.pacing));
    }
}

// Rows are named by seat (|speaker| mod 2) under the swap, interjections by the other seat;
// the name's colour follows the group's speaker, unswapped (grouping stores the seat there, so
// a third voice reads as the first seat's colour in the room).
TEST(CheckinRoomState, TranscriptRowsAreNamedBySeatAndColouredBySpeaker)
{
    Room room;
    room.model.update([](auto& s) { s.participantNames = { QStringLiteral("Ada"), QStringLiteral("Bob") }; });
    room.model.say(0, 0, 10, "It was a good week for us");
    room.model.say(1, 10, 11, "yes");
    room.model.say(0, 11, 20, "and I felt close to you");
    room.model.say(1, 20, 40, "I liked our walk on Sunday more than anything else");
    room.model.say(2, 40, 60, "A third voice in the room says something long");
    room.model.say(-1, 60, 80, "A negative speaker says something long as well");
    const QColor positive = TranscriptTurnText::sideColour(0);
    const QColor information = TranscriptTurnText::sideColour(1);
    struct Row {
        const char* name;
        QColor colour;
        const char* paragraph;
    };
    const Row unswapped[] = {
        { "Ada", positive, "It was a good week for us Bob: “yes” and I felt close to you" },
        { "Bob", information, "I liked our walk on Sunday more than anything else" },
        { "Ada", positive, "A third voice in the room says something long" },
        { "Bob", information, "A negative speaker says something long as well" },
    };
    const Row swapped[] = {
        { "Bob", positive, "It was a good week for us Ada: “yes” and I felt close to you" },
        { "Ada", information, "I liked our walk on Sunday more than anything else" },
        { "Bob", positive, "A third voice in the room says something long" },
        { "Ada", information, "A negative speaker says something long as well" },
    };
    for (const bool swap : { false, true }) {
        room.model.update([&](auto& s) { s.sidesSwapped = swap; });
        const Row* rows = swap ? swapped : unswapped;
        ASSERT_EQ(room.state.rows()->count(), 4);
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i + 10 * swap);
            const QModelIndex index = room.state.rows()->index(i);
            EXPECT_EQ(room.nameOfRow(i), rows[i].name);
            EXPECT_EQ(index.data(CheckinTranscriptRows::NameColourRole).value<QColor>(), rows[i].colour);
            EXPECT_EQ(
                index.data(TranscriptRows::ParagraphRole).toString(), QString::fromUtf8(rows[i].paragraph));
            EXPECT_EQ(index.data(TranscriptRows::AccessibleTextRole).toString(),
                QString::fromUtf8(rows[i].name) + ": " + QString::fromUtf8(rows[i].paragraph));
        }
    }

    // A group that carries the service's own number is coloured by it, named by its seat.
    CheckinTranscriptRows rows;
    rows.setSeatNames({ QStringLiteral("Ada"), QStringLiteral("Bob") });
    ConversationTurn third;
    third.speaker = 2;
    third.pieces = { ConversationTurnPiece(0, 2, QStringLiteral("Hello"), 0, 1, false) };
    rows.setGroups({ third });
    EXPECT_EQ(rows.index(0).data(CheckinTranscriptRows::NameColourRole).value<QColor>(), information);
    EXPECT_EQ(rows.index(0).data(TranscriptRows::NameRole).toString(), "Ada");
}

// Grouping happens when the room appears and when the number of turns changes: rows are
// appended or changed, never reset; the listening card shows only until the first row.
TEST(CheckinRoomState, TranscriptGroupsOnAppearanceAndNewTurnsOnly)
{
    testing::FakeRoomModel model;
    model.state.checkinPack = packOf(5);
    model.state.checkinFlow = CheckinFlow(5, 0, 0);
    model.update([](auto& s) {
        s.isRecording = true;
        s.turns = { SpeakerTurn(0, 0, 5, QStringLiteral("Hello there")) };
    });
    CheckinRoomState state;
    QAbstractItemModelTester tester(state.rows(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(state.rows(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(state.rows(), &QAbstractItemModel::rowsInserted);
    state.setModel(&model);
    EXPECT_EQ(state.rows()->count(), 0) << "not before the room appears";
    EXPECT_TRUE(state.showsListening());
    state.appear();
    EXPECT_EQ(state.rows()->count(), 1);
    EXPECT_FALSE(state.showsListening());
    model.say(1, 5, 30, "I have been thinking about our week a lot");
    model.say(1, 30, 40, "and the walk too");
    EXPECT_EQ(state.rows()->count(), 2);
    EXPECT_EQ(inserts.count(), 2);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(state.rows()->data(state.rows()->index(1), TranscriptRows::ParagraphRole).toString(),
        "I have been thinking about our week a lot and the walk too");
    model.update([](auto& s) { s.isRecording = false; });
    EXPECT_FALSE(state.showsListening());

    // Off screen (a conversation in the room's place) the turns wait for the room to come back.
    state.disappear();
    model.update([](auto& s) { s.isRecording = true; });
    model.say(0, 40, 50, "Then a conversation of our own");
    model.say(1, 50, 60, "and its answer");
    EXPECT_EQ(state.rows()->count(), 2);
    state.appear();
    EXPECT_EQ(state.rows()->count(), 4);
    EXPECT_EQ(state.rows()->data(state.rows()->index(3), TranscriptRows::ParagraphRole).toString(),
        "and its answer");
}

} // namespace
} // namespace lumora
