#include "analysis/RuleBasedAnalyzer.hpp"

#include "AnalysisFindings.hpp"
#include "FailsWith.hpp"
#include "wire/AnalysisRubric.hpp"

#include <gtest/gtest.h>

using namespace lumora;

namespace {

const auto codes = lumora::testing::findings;

AnalysisProviderPayload request(
    AnalysisRubric rubric, QList<SpeakerTurn> turns, std::optional<qint64> step = {})
{
    return { AnalysisPass::final, toString(rubric), std::move(turns), step };
}

const QList<SpeakerTurn> argument {
    SpeakerTurn(0, 0, 4, "You never listen to me when I talk about the dishes."),
    SpeakerTurn(1, 4, 5, "Whatever."),
    SpeakerTurn(0, 5, 9, "And another thing, remember when you forgot my birthday?"),
    SpeakerTurn(1, 9, 13, QString::fromUtf8("It\u2019s not my fault, you just want to win.")),
    SpeakerTurn(0, 13, 18, "I'm sorry, I see what you mean. Thank you for saying it."),
};

} // namespace

TEST(RuleBasedAnalyzer, FindsWhatAScriptedArgumentPlainlyHolds)
{
    const RuleBasedAnalyzer analyzer;
    const auto result = analyzer.analyze(request(AnalysisRubric::conversation, argument));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(codes(*result),
        (QStringList { "0:criticism", "1:contempt", "3:defensiveness", "4:repair", "4:positive",
            "0:globalizing", "2:kitchen_sinking", "2:dredging_past", "3:mind_reading" }));
    EXPECT_EQ(result->annotations[1].start, 4);
    EXPECT_TRUE(result->harshStartup.has_value() && result->harshStartup->detected);
    EXPECT_FALSE(result->nudges.value_or(QList<QString> {}).isEmpty());
    // Turns as the application groups them ("Whatever." is held inside the first), moments
    // as its review card counts them.
    EXPECT_TRUE(result->summary.startsWith("3 turns, with 2 warm and 7 hard moments."))
        << result->summary.toStdString();

    // The same turns always give the same answer.
    EXPECT_EQ(analyzer.analyze(request(AnalysisRubric::conversation, argument)), result);
}

TEST(RuleBasedAnalyzer, CheckinsStayGentle)
{
    const RuleBasedAnalyzer analyzer;
    const auto result = analyzer.analyze(request(AnalysisRubric::checkin, argument));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(codes(*result), (QStringList { "4:repair", "4:positive" }));
    EXPECT_FALSE(result->harshStartup.has_value());
    EXPECT_FALSE(result->circularity.has_value());
}

TEST(RuleBasedAnalyzer, OpeningsCyclesAndSteps)
{
    const RuleBasedAnalyzer analyzer;
    // A hard moment after the opening is not a harsh start-up; a batch from later in the
    // conversation does not judge the opening at all.
    QList<SpeakerTurn> gentleStart { SpeakerTurn(0, 0, 3, "Can we talk about the weekend?"),
        SpeakerTurn(1, 3, 5, "Sure."), SpeakerTurn(0, 5, 8, "I felt a bit alone."),
        SpeakerTurn(1, 8, 10, "You always say that.") };
    auto result = analyzer.analyze(request(AnalysisRubric::conversation, gentleStart));
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->harshStartup->detected);
    QList<SpeakerTurn> later = gentleStart;
    for (SpeakerTurn& turn : later)
        turn.start += 600;
    EXPECT_FALSE(analyzer.analyze(request(AnalysisRubric::conversation, later))->harshStartup.has_value());

    // One partner coming back to the same point in nearly the same words.
    const QList<SpeakerTurn> loop { SpeakerTurn(0, 0, 5, "Nobody helps with dinner, laundry or groceries."),
        SpeakerTurn(1, 5, 9, "That is unfair."),
        SpeakerTurn(0, 9, 14, "Dinner, laundry, groceries: nobody helps.") };
    result = analyzer.analyze(request(AnalysisRubric::conversation, loop));
    ASSERT_TRUE(result->circularity.has_value());
    EXPECT_TRUE(result->circularity->detected);
    EXPECT_EQ(result->circularity->repeatedPoint, "dinner laundry groceries nobody helps");
    EXPECT_GE(result->circularity->confidence, 0.72);
    EXPECT_EQ(
        result->circularity->rationale, "The same point came back 2 turns later in nearly the same words.");
    EXPECT_FALSE(analyzer.analyze(request(AnalysisRubric::conversation, gentleStart))->circularity->detected);
    // How far apart, in turns as the transcript groups them: an interjection is held inside the
    // other partner's turn, so its point coming back in the partner's next turn is 1 turn later.
    const QList<SpeakerTurn> interjected { SpeakerTurn(0, 0, 5, "Let us sort the plan for the weekend."),
        SpeakerTurn(1, 5, 7, "Money, rent, bills."), SpeakerTurn(0, 7, 12, "Fine, go on then."),
        SpeakerTurn(1, 12, 16, "Rent and bills, money again.") };
    result = analyzer.analyze(request(AnalysisRubric::conversation, interjected));
    EXPECT_EQ(
        result->circularity->rationale, "The same point came back 1 turn later in nearly the same words.");
    // Of several repeats the closest wording is the one named, whatever comes first.
    const QList<SpeakerTurn> repeats { SpeakerTurn(0, 0, 5, "Money, budget, savings, rent and bills."),
        SpeakerTurn(0, 5, 9, "Money, budget, savings and rent."),
        SpeakerTurn(0, 9, 14, "Bills, rent, savings, budget, money.") };
    result = analyzer.analyze(request(AnalysisRubric::conversation, repeats));
    EXPECT_EQ(result->circularity->repeatedPoint, "bills rent savings budget money");
    EXPECT_DOUBLE_EQ(result->circularity->confidence, 0.95);
    EXPECT_EQ(
        result->circularity->rationale, "The same point came back within one turn in nearly the same words.");

    // Agenda cues, and a note when the talk is ahead of the agenda.
    const QList<SpeakerTurn> attuning { SpeakerTurn(0, 0, 4, "What I'm hearing is that you felt scared."),
        SpeakerTurn(1, 4, 6, "Yes. Did I get that across?"), SpeakerTurn(0, 6, 9, "I hear you.") };
    result = analyzer.analyze(request(AnalysisRubric::conversation, attuning, 1));
    ASSERT_TRUE(result->stepDetected.has_value());
    EXPECT_EQ(result->stepDetected->index, 3);
    EXPECT_EQ(result->adherenceNote, "The talk sounds like step 4 while the agenda is on step 2.");
    EXPECT_FALSE(
        analyzer.analyze(request(AnalysisRubric::conversation, attuning))->adherenceNote.has_value());
    EXPECT_FALSE(analyzer.analyze(request(AnalysisRubric::conversation, {}))->stepDetected.has_value());
}

TEST(RuleBasedAnalyzer, NudgesAddressTheTargetSeat)
{
    const RuleBasedAnalyzer analyzer;
    const QString rubric = QString::fromLatin1(ConversationAnalyzer::nudgeRubricVersion);
    // Seat 1's latest hard moment was defensiveness; seat 0's a foul-free criticism; with
    // nothing hard from the seat, guidance for the current step.
    const std::tuple<QList<SpeakerTurn>, qint64, const char*> cases[] = {
        { argument.mid(0, 4), 3, "Let one thing land" },
        { argument.mid(0, 2), 0, "Soften the start" },
        { {}, 0, "One small step" },
    };
    for (const auto& [turns, seat, title] : cases)
        EXPECT_EQ(analyzer.nudge(NudgeProviderPayload(rubric, turns, 5, seat)).value().title, title);
    EXPECT_THAT(analyzer.nudge(NudgeProviderPayload("baseline-2026-07-17", {}, 0, 0)),
        FailsWith(AnalyzerError::unknownRubric));
    AnalysisProviderPayload unknown = request(AnalysisRubric::conversation, argument);
    unknown.rubricVersion = "baseline-2099";
    EXPECT_THAT(analyzer.analyze(unknown), FailsWith(AnalyzerError::unknownRubric));
    EXPECT_EQ(errorCode(AnalyzerError::unknownRubric), "unknown_rubric");
}
