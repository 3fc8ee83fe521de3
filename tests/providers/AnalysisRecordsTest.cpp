#include "providers/LiveAnalysisContext.hpp"
#include "wire/AnalysisProviderPayload.hpp"
#include "wire/AnalysisProviderResult.hpp"
#include "wire/AnalysisRubric.hpp"
#include "wire/NudgeProviderPayload.hpp"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace lumora;

namespace {

QList<SpeakerTurn> turnsEndingAt(const QList<double>& ends)
{
    QList<SpeakerTurn> turns;
    for (double end : ends)
        turns.append(SpeakerTurn(turns.size(), end - 1, end, "ok"));
    return turns;
}

QList<SpeakerTurn> turnsOfLength(qsizetype first, qsizetype second, const QString& unit = "a")
{
    return { SpeakerTurn(0, 0, 1, unit.repeated(first)), SpeakerTurn(1, 1, 2, unit.repeated(second)) };
}

QJsonObject object(const char* json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

} // namespace

TEST(NudgeProviderPayload, WindowKeepsTheLatestTurnsWithinCountTimeAndCharacters)
{
    QList<double> forty;
    for (int i = 0; i < 40; ++i)
        forty.append(100 + i);
    // Characters are what a reader sees: a family emoji is one, not eleven UTF-16 units.
    const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466");
    struct Case {
        const char* name;
        QList<SpeakerTurn> turns;
        qsizetype firstKept; // the window is turns[firstKept...]
    };
    const Case cases[] = {
        { "none", {}, 0 },
        { "forty turns", turnsEndingAt(forty), 0 },
        { "forty-one turns", turnsEndingAt(QList<double> { 99 } + forty), 1 },
        { "exactly 150 s before the last end", turnsEndingAt({ 50, 100, 250 }), 1 },
        // 150.5 s before stops the walk even though an older turn ended later.
        { "150.5 s before", turnsEndingAt({ 200, 99.5, 250 }), 2 },
        { "the last turn decides, not the latest end", turnsEndingAt({ 400, 10 }), 0 },
        { "120,000 characters", turnsOfLength(60000, 60000), 0 },
        { "120,001 characters", turnsOfLength(60001, 60000), 1 },
        { "a long last turn alone", turnsOfLength(1, 130000), 1 },
        { "120,000 emoji", turnsOfLength(60000, 60000, family), 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(NudgeProviderPayload("r", c.turns, 0, 0).turns, c.turns.mid(c.firstKept)) << c.name;
    EXPECT_EQ(NudgeProviderPayload::characterCount(family), 1);
    EXPECT_EQ(NudgeProviderPayload::characterCount(QString::fromUtf8("e\u0301te\u0301")), 3);
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
    EXPECT_EQ(toString(analysisRubric(ConversationMode::conversation)), "baseline-2026-07-17");
    EXPECT_FALSE(runsLiveCoaching(ConversationMode::checkin));
    EXPECT_EQ(LiveAnalysisContext(7).currentAgendaStep, 5);
    EXPECT_EQ(LiveAnalysisContext(-1).currentAgendaStep, 0);
    EXPECT_EQ(LiveAnalysisContext::fromJson(object(R"({"currentAgendaStep":7})"))->currentAgendaStep, 7);
    EXPECT_FALSE(
        AnalysisProviderPayload::fromJson(object(R"({"pass":"Live","rubricVersion":"x","turns":[]})")));
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
