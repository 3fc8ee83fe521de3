#include "providers/AnalysisProviderPayload.hpp"
#include "providers/AnalysisProviderResult.hpp"
#include "providers/AnalysisRubric.hpp"
#include "providers/LiveAnalysisContext.hpp"
#include "providers/NudgeProviderPayload.hpp"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace lumora;

namespace {

QList<SpeakerTurn> turnsEndingAt(const QList<double>& ends, const QString& text = "ok")
{
    QList<SpeakerTurn> turns;
    for (double end : ends)
        turns.append(SpeakerTurn(turns.size(), end - 1, end, text));
    return turns;
}

QList<double> ends(const QList<SpeakerTurn>& turns)
{
    QList<double> result;
    for (const SpeakerTurn& turn : turns)
        result.append(turn.end);
    return result;
}

QJsonObject object(const char* json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

} // namespace

TEST(NudgeProviderPayload, WindowKeepsRecentTurnsWithinBudget)
{
    EXPECT_TRUE(NudgeProviderPayload("r", {}, 0, 0).turns.isEmpty());

    // At most the latest 40 turns.
    QList<double> many;
    for (int i = 0; i < 41; ++i)
        many.append(100 + i);
    const auto latest = NudgeProviderPayload("r", turnsEndingAt(many), 0, 0).turns;
    ASSERT_EQ(latest.size(), 40);
    EXPECT_EQ(latest.first().end, 101);

    // Exactly 150 s before the last end is kept; 150.5 s is not, and stops the walk even
    // though an older turn ended later.
    EXPECT_EQ(ends(NudgeProviderPayload("r", turnsEndingAt({ 50, 100, 250 }), 0, 0).turns),
        (QList<double> { 100, 250 }));
    EXPECT_EQ(ends(NudgeProviderPayload("r", turnsEndingAt({ 200, 99.5, 250 }), 0, 0).turns),
        (QList<double> { 250 }));
    // The last element decides, not the largest end.
    EXPECT_EQ(
        ends(NudgeProviderPayload("r", turnsEndingAt({ 400, 10 }), 0, 0).turns), (QList<double> { 400, 10 }));

    // Character budget: a running total of exactly 120,000 keeps the turn, 120,001 stops.
    QList<SpeakerTurn> budget { SpeakerTurn(0, 0, 1, QString(60000, 'a')),
        SpeakerTurn(1, 1, 2, QString(60000, 'b')) };
    EXPECT_EQ(NudgeProviderPayload("r", budget, 0, 0).turns.size(), 2);
    budget[0].text.append('a');
    EXPECT_EQ(NudgeProviderPayload("r", budget, 0, 0).turns.size(), 1);

    // A single long last turn is kept alone.
    const QList<SpeakerTurn> longLast { SpeakerTurn(0, 0, 1, "before"),
        SpeakerTurn(1, 1, 2, QString(130000, 'x')) };
    const auto alone = NudgeProviderPayload("r", longLast, 0, 0).turns;
    ASSERT_EQ(alone.size(), 1);
    EXPECT_EQ(alone[0].text.size(), 130000);

    // Characters are what a reader sees: a family emoji is one, not eleven UTF-16 units.
    const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466");
    EXPECT_EQ(NudgeProviderPayload::characterCount(family), 1);
    EXPECT_EQ(NudgeProviderPayload::characterCount(QString::fromUtf8("e\u0301te\u0301")), 3);
    QList<SpeakerTurn> emoji { SpeakerTurn(0, 0, 1, family.repeated(60000)),
        SpeakerTurn(1, 1, 2, family.repeated(60000)) };
    EXPECT_EQ(NudgeProviderPayload("r", emoji, 0, 0).turns.size(), 2);
}

TEST(NudgeProviderPayload, StepAndTargetAreNormalised)
{
    struct Case {
        qint64 step, expectedStep, target, expectedTarget;
    };
    for (const Case& c : { Case { -3, 0, -3, 1 }, Case { 9, 5, 2, 0 }, Case { 3, 3, 5, 1 },
             Case { std::numeric_limits<qint64>::min(), 0, std::numeric_limits<qint64>::min(), 0 } }) {
        const NudgeProviderPayload payload("baseline-2026-07-17", {}, c.step, c.target);
        EXPECT_EQ(payload.currentStep, c.expectedStep);
        EXPECT_EQ(payload.targetSpeaker, c.expectedTarget);
    }
    EXPECT_EQ(LiveAnalysisContext(7).currentAgendaStep, 5);
    EXPECT_EQ(LiveAnalysisContext(-1).currentAgendaStep, 0);
    EXPECT_EQ(LiveAnalysisContext::fromJson(object(R"({"currentAgendaStep":7})"))->currentAgendaStep, 7);
}

TEST(AnalysisProviderResult, OptionalPartsDecodeAsAbsentAndRequiredOnesFail)
{
    const auto minimal = AnalysisProviderResult::fromJson(object(
        R"({"model":"m","summary":"s","annotations":[],"inputTokens":3,"outputTokens":4,"fouls":null,"nudges":null})"));
    ASSERT_TRUE(minimal.has_value());
    EXPECT_FALSE(minimal->fouls.has_value());
    EXPECT_FALSE(minimal->nudges.has_value());
    EXPECT_FALSE(minimal->stepDetected.has_value());

    for (const char* json :
        {
            R"({"model":"m","summary":"s","inputTokens":3,"outputTokens":4})",
            R"({"model":"m","summary":"s","annotations":[],"outputTokens":4})",
            R"({"model":"m","summary":"s","annotations":[],"inputTokens":3,"outputTokens":4,"nudges":[1]})",
            R"({"model":"m","summary":"s","annotations":[],"inputTokens":3,"outputTokens":4,"stepDetected":{"index":1}})",
            R"({"model":"m","summary":"s","annotations":[],"inputTokens":3,"outputTokens":4,"harshStartup":{"detected":true,"confidence":1}})",
        }) {
        SCOPED_TRACE(json);
        EXPECT_FALSE(AnalysisProviderResult::fromJson(object(json)).has_value());
    }
}

TEST(AnalysisProviderResult, ShiftingMovesIndexesAndTrimsNudges)
{
    AnalysisProviderResult result;
    result.model = "m";
    result.summary = "s";
    result.annotations = { BehaviorAnnotation(2, 1, BehaviorCode::criticism, 0.8, 1, 2) };
    result.annotations[0].confidence = 1.4; // as decoded, unclamped
    result.annotations[0].speaker = 3;
    result.nudges = QList<QString> { "a", "b", "c" };
    result.stepDetected = StepDetection { 2, 0.7 };
    result.harshStartup = HarshStartupEvidence { true, 0.9, "opened with blame" };

    EXPECT_EQ(result.offsettingTurnIndexes(0), result);

    const auto shifted = result.offsettingTurnIndexes(12);
    EXPECT_EQ(shifted.annotations[0].turnIndex, 14);
    EXPECT_EQ(shifted.annotations[0].confidence, 1.0);
    EXPECT_EQ(shifted.annotations[0].speaker, 1);
    EXPECT_EQ(shifted.nudges, (QList<QString> { "a", "b" }));
    ASSERT_TRUE(shifted.fouls.has_value());
    EXPECT_TRUE(shifted.fouls->isEmpty());
    EXPECT_EQ(shifted.stepDetected->index, 2);
    EXPECT_EQ(shifted.harshStartup, result.harshStartup);
}

TEST(AnalysisRecords, RubricsAndPasses)
{
    EXPECT_EQ(toString(analysisRubric(ConversationMode::conversation)), "baseline-2026-07-17");
    EXPECT_TRUE(runsLiveCoaching(ConversationMode::conversation));
    EXPECT_FALSE(runsLiveCoaching(ConversationMode::checkin));
    EXPECT_FALSE(
        AnalysisProviderPayload::fromJson(object(R"({"pass":"Live","rubricVersion":"x","turns":[]})")));
}
