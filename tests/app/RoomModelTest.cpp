#include "FakeRoomModel.hpp"
#include "RoomModelAdapter.hpp"
#include "TranscriptChipValue.hpp"
#include "TranscriptRows.hpp"
#include "ViewModelFixture.hpp"
#include "domain/TurnGrouping.hpp"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace lumora {
namespace {

SpeakerTurn turn(qint64 speaker, double start, double end, const char* text)
{
    return SpeakerTurn(speaker, start, end, QString::fromUtf8(text));
}

// What one model's signals said while a step ran: rows inserted, removed, changed, and resets.
struct RowSignals {
    explicit RowSignals(QAbstractItemModel& model)
        : inserted(&model, &QAbstractItemModel::rowsInserted)
        , removed(&model, &QAbstractItemModel::rowsRemoved)
        , changed(&model, &QAbstractItemModel::dataChanged)
        , resets(&model, &QAbstractItemModel::modelReset)
    {
    }
    // "+first-last", "-first-last" and "~first-last" in the order they came; resets count.
    QStringList said() const
    {
        QStringList lines;
        for (const auto& call : inserted)
            lines.append(QStringLiteral("+%1-%2").arg(call.at(1).toInt()).arg(call.at(2).toInt()));
        for (const auto& call : removed)
            lines.append(QStringLiteral("-%1-%2").arg(call.at(1).toInt()).arg(call.at(2).toInt()));
        for (const auto& call : changed)
            lines.append(QStringLiteral("~%1-%2")
                             .arg(call.at(0).value<QModelIndex>().row())
                             .arg(call.at(1).value<QModelIndex>().row()));
        return lines;
    }
    QSignalSpy inserted;
    QSignalSpy removed;
    QSignalSpy changed;
    QSignalSpy resets;
};

TEST(LiveTurnList, AppendedUtterancesInsertRowsAndANewTranscriptReplacesThem)
{
    LiveTurnList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const QList<SpeakerTurn> first { turn(0, 0, 2, "Hello"), turn(1, 2, 3, "Hi") };
    const struct {
        const char* name;
        QList<SpeakerTurn> turns;
        QStringList said;
    } rows[] = {
        { "two utterances", first, { "+0-1" } },
        { "the same again", first, {} },
        { "one more", first + QList { turn(0, 3, 5, "So") }, { "+2-2" } },
        { "a new conversation", { turn(1, 0, 1, "Again") }, { "+0-0", "-0-2" } },
        { "cleared", {}, { "-0-0" } },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RowSignals heard(list);
        list.replace(row.turns);
        EXPECT_EQ(heard.said(), row.said);
        EXPECT_EQ(heard.resets.size(), 0);
        EXPECT_EQ(list.turns(), row.turns);
        EXPECT_EQ(list.count(), row.turns.size());
    }
}

TEST(TranscriptRows, ANewUtteranceInsertsOrChangesOnlyTheLastRows)
{
    TranscriptRows rows;
    QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QList<SpeakerTurn> turns;
    // Each step appends one utterance; grouping folds a short answer between two turns of the
    // holder into the holder's turn, which removes the row it had for a moment.
    const struct {
        SpeakerTurn next;
        QStringList said;
        qsizetype count;
    } steps[] = {
        { turn(0, 0, 4, "I want to talk about dinner tonight"), { "+0-0" }, 1 },
        { turn(0, 4, 6, "if that is all right"), { "~0-0" }, 1 },
        { turn(1, 6, 7, "Sure"), { "+1-1" }, 2 },
        { turn(0, 7, 9, "Thank you"), { "-1-1", "~0-0" }, 1 },
        { turn(1, 9, 20, "I have been thinking about it all week and I am glad you asked"), { "+1-1" }, 2 },
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.next.text.toStdString());
        turns.append(step.next);
        RowSignals heard(rows);
        rows.setGroups(TurnGrouping::group(turns));
        EXPECT_EQ(heard.said(), step.said);
        EXPECT_EQ(heard.resets.size(), 0);
        EXPECT_EQ(rows.count(), step.count);
        EXPECT_EQ(rows.groups(), TurnGrouping::group(turns));
    }

    // A transcript that starts over replaces every row; an empty one removes them.
    RowSignals restart(rows);
    rows.setGroups(TurnGrouping::group({ turn(1, 0, 2, "Different words") }));
    EXPECT_EQ(restart.said(), (QStringList { "-1-1", "~0-0" }));
    rows.setGroups({});
    EXPECT_EQ(rows.count(), 0);
}

TEST(TranscriptRows, RowsNameTheirSideAndCarryTheirFindings)
{
    TranscriptRows rows;
    QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const QList<SpeakerTurn> turns { turn(0, 61, 64, "I <mean> it"), turn(1, 64, 65, "Okay"),
        turn(0, 65, 66, "Really"), turn(1, 70, 80, "Then let us try") };
    rows.setGroups(TurnGrouping::group(turns));
    rows.setNames({ "Ada", "Bob" });
    // The interjection's annotation belongs to the row that holds it.
    rows.setFindings({ BehaviorAnnotation(1, 1, BehaviorCode::repair, 0.4, 64, 65),
                         BehaviorAnnotation(3, 1, BehaviorCode::criticism, 0.9, 70, 80) },
        { ProcessFoulAnnotation(0, 0, ProcessFoul::globalizing, 0.8, 61, 64) });
    ASSERT_EQ(rows.count(), 2);
    const auto at = [&](int row, TranscriptRows::Role role) { return rows.data(rows.index(row), role); };

    EXPECT_EQ(at(0, TranscriptRows::NameCaptionRole).toString(), "ADA");
    EXPECT_EQ(at(0, TranscriptRows::ClockRole).toString(), "1:01");
    EXPECT_EQ(at(0, TranscriptRows::RowIDRole).toDouble(), 0);
    EXPECT_EQ(at(0, TranscriptRows::WashRole).toInt(), TranscriptRows::WarmWash) << "no confidence floor";
    // The chips are typed values, as the row's delegate declares them.
    const auto chips = [&](TranscriptRows::Role role) {
        const QVariant values = at(0, role);
        EXPECT_EQ(values.metaType(), QMetaType::fromType<QList<TranscriptChipValue>>());
        return values.value<QList<TranscriptChipValue>>();
    };
    EXPECT_EQ(chips(TranscriptRows::BehaviorChipsRole), (QList { TranscriptChipValue { "repair", 0.4 } }));
    EXPECT_EQ(chips(TranscriptRows::FoulChipsRole), (QList { TranscriptChipValue { "globalizing", 0.8 } }));
    EXPECT_EQ(at(0, TranscriptRows::AccessibleTextRole).toString(), "Ada: I <mean> it Bob says Okay Really");
    EXPECT_TRUE(at(0, TranscriptRows::ParagraphRole).toString().startsWith("I &lt;mean&gt; it <i>"));
    EXPECT_EQ(at(1, TranscriptRows::WashRole).toInt(), TranscriptRows::HardWash);
    EXPECT_EQ(at(1, TranscriptRows::DisplaySideRole).toInt(), 1);

    // Swapping sides moves the rows and their names, changing rows in place.
    RowSignals swap(rows);
    rows.setSidesSwapped(true);
    EXPECT_EQ(swap.said(), QStringList { "~0-1" });
    EXPECT_EQ(at(0, TranscriptRows::DisplaySideRole).toInt(), 1);
    EXPECT_EQ(at(0, TranscriptRows::NameRole).toString(), "Bob");
    EXPECT_EQ(at(0, TranscriptRows::AccessibleTextRole).toString(), "Bob: I <mean> it Ada says Okay Really");
}

// A new analysis tells only the rows whose findings it changed: the live transcript keeps the
// chips of every other row instead of making them all again.
TEST(TranscriptRows, NewFindingsChangeOnlyTheRowsTheyAreOn)
{
    TranscriptRows rows;
    QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
    // Four rows; the second holds the first's short answer as an interjection (turn 2).
    rows.setGroups(TurnGrouping::group({ turn(0, 0, 9, "We keep coming back to the money every week"),
        turn(1, 10, 20, "Because it matters to me more than you think it does"), turn(0, 20, 21, "Okay"),
        turn(1, 21, 30, "and I would like us to sit down with it"),
        turn(0, 31, 40, "Then let us do that on Sunday evening together"),
        turn(1, 41, 50, "Sunday works for me and I will bring the statements") }));
    ASSERT_EQ(rows.count(), 4);
    const BehaviorAnnotation criticism(0, 0, BehaviorCode::criticism, 0.9, 0, 9);
    const BehaviorAnnotation repair(4, 0, BehaviorCode::repair, 0.8, 31, 40);
    const BehaviorAnnotation positive(2, 0, BehaviorCode::positive, 0.7, 20, 21);
    const ProcessFoulAnnotation globalizing(5, 1, ProcessFoul::globalizing, 0.6, 41, 50);
    const struct {
        const char* name;
        QList<BehaviorAnnotation> annotations;
        QList<ProcessFoulAnnotation> fouls;
        QStringList said;
    } steps[] = {
        { "the first analysis", { criticism }, {}, { "~0-0" } },
        { "the same again", { criticism }, {}, {} },
        { "one more, on a later row", { criticism, repair }, {}, { "~2-2" } },
        { "a foul on the last row", { criticism, repair }, { globalizing }, { "~3-3" } },
        { "the interjection's, on the row that holds it", { criticism, repair, positive }, { globalizing },
            { "~1-1" } },
        { "one taken back", { repair, positive }, { globalizing }, { "~0-0" } },
        { "none", {}, {}, { "~1-3" } },
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        RowSignals heard(rows);
        rows.setFindings(step.annotations, step.fouls);
        EXPECT_EQ(heard.said(), step.said);
        QList<BehaviorAnnotation> shown;
        QList<ProcessFoulAnnotation> fouls;
        for (const ConversationTurn& group : rows.groups()) {
            shown += rows.annotationsOf(group);
            fouls += rows.foulsOf(group);
        }
        EXPECT_EQ(shown.size(), step.annotations.size());
        EXPECT_EQ(fouls, step.fouls);
    }

    // Within a row the findings keep the order the analysis gave them.
    rows.setFindings({ positive, BehaviorAnnotation(1, 1, BehaviorCode::defensiveness, 0.5, 10, 20) }, {});
    const auto chips
        = rows.data(rows.index(1), TranscriptRows::BehaviorChipsRole).value<QList<TranscriptChipValue>>();
    ASSERT_EQ(chips.size(), 2);
    EXPECT_EQ(chips.at(0).code, "positive");
}

// The adapter over a real view model: the readiness follows what it is made of, the texts the
// rooms write reach the view model, absent values read as empty.
TEST(RoomModelAdapter, FollowsTheViewModelAndWritesWhatTheRoomsWrite)
{
    testing::ViewModelHome home;
    const auto viewModel = home.viewModel();
    RoomModelAdapter room(*viewModel);
    QSignalSpy readiness(&room, &RoomModel::startReadinessChanged);

    EXPECT_EQ(room.startReadiness(), RoomModel::NeedsRecordingAgreement);
    viewModel->acceptRecordingAgreement();
    EXPECT_EQ(room.startReadiness(), RoomModel::NeedsSignIn);
    EXPECT_EQ(readiness.size(), 1);

    room.setErrorMessage("Not yet.");
    EXPECT_EQ(viewModel->errorMessage(), "Not yet.");
    room.setErrorMessage(QString());
    EXPECT_FALSE(viewModel->errorMessage().has_value()) << "an empty text clears it";
    room.setStatusText("Waiting");
    EXPECT_EQ(viewModel->statusText(), "Waiting");
    room.setSelectedAgendaStep(3);
    EXPECT_EQ(viewModel->selectedAgendaStep(), 3);
    room.setSidesSwapped(true);
    EXPECT_TRUE(viewModel->sidesSwapped());

    viewModel->updateParticipantName(1, "Bob");
    EXPECT_EQ(room.participantNames(), (QStringList { "Person 1", "Bob" }));
    EXPECT_EQ(room.participantName(-3), "Bob");
    EXPECT_EQ(room.currentSessionID(), QString());
    EXPECT_FALSE(room.liveNudge(0).has_value());
    EXPECT_FALSE(room.contextualNudge(1).has_value());
    EXPECT_EQ(room.nudgeError(1), QString());
    EXPECT_FALSE(room.hasCheckinPack());
    EXPECT_FALSE(room.checkinFlowValue().isSet);
}

} // namespace
} // namespace lumora
