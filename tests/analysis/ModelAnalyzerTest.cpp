#include "analysis/ModelAnalyzer.hpp"

#include "AnalysisFindings.hpp"
#include "analysis/ModelPrompts.hpp"
#include "wire/AnalysisRubric.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace lumora;
using namespace std::chrono_literals;

namespace {

const QList<SpeakerTurn> turns {
    SpeakerTurn(0, 0, 4, "You never listen to me."),
    SpeakerTurn(1, 4, 6, "That's not fair."),
    SpeakerTurn(3, 6, 9, "I'm sorry, I see what you mean."),
};

AnalysisProviderPayload request(AnalysisRubric rubric = AnalysisRubric::conversation)
{
    return { AnalysisPass::final, toString(rubric), turns, 2 };
}

NudgeProviderPayload nudgeRequest()
{
    return NudgeProviderPayload(ConversationAnalyzer::nudgeRubricVersion, turns, 1, 0);
}

QString text(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson());
}

// A model answer that breaks no rule.
QJsonObject goodAnswer()
{
    return { { "title", "Listening" }, { "summary", "A hard start that ended in repair." },
        { "annotations",
            QJsonArray { QJsonObject { { "turn_index", 0 }, { "code", "criticism" }, { "confidence", 0.8 } },
                QJsonObject { { "turn_index", 2 }, { "code", "repair" }, { "confidence", 0.9 } } } },
        { "fouls",
            QJsonArray {
                QJsonObject { { "turn_index", 0 }, { "foul", "globalizing" }, { "confidence", 0.7 } } } },
        { "step_detected", QJsonObject { { "index", 3 }, { "confidence", 0.6 } } },
        { "adherence_note", "Close to the agenda." }, { "nudges", QJsonArray { "Say what you need." } },
        { "circularity",
            QJsonObject { { "detected", false }, { "confidence", 0.4 }, { "repeated_point", "" },
                { "rationale", "No point came back." }, { "reset_suggestion", "" } } },
        { "harsh_startup",
            QJsonObject { { "detected", true }, { "confidence", 0.8 }, { "note", "Blame first." } } } };
}

// Answers from a script, one per call (the last one repeats), and counts the calls.
class ScriptedModel final : public ModelService {
public:
    std::vector<std::expected<ModelAnswer, ModelFailure>> script;
    mutable std::vector<ModelRequest> calls;

    std::expected<ModelAnswer, ModelFailure> complete(const ModelRequest& request) const override
    {
        calls.push_back(request);
        return script.at(std::min(calls.size(), script.size()) - 1);
    }
};

ModelAnswer answerWith(const QString& body)
{
    return { "model-x", body, 120, 40 };
}

struct Fixture {
    std::shared_ptr<ScriptedModel> model = std::make_shared<ScriptedModel>();
    std::vector<std::string> log;
    ModelAnalyzer analyzer { model, settings(), [this](const std::string& line) { log.push_back(line); } };

    static ModelAnalyzerSettings settings()
    {
        ModelAnalyzerSettings settings;
        settings.retryPause = 1ms;
        return settings;
    }
};

} // namespace

TEST(ModelAnalyzer, AValidAnswerBecomesTheRecordsWithTurnDetailsFromTheRequest)
{
    Fixture f;
    f.model->script = { answerWith(text(goodAnswer())) };
    const auto result = f.analyzer.analyze(request());
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(
        lumora::testing::findings(*result), (QStringList { "0:criticism", "2:repair", "0:globalizing" }));
    EXPECT_EQ(result->annotations[1].speaker, 1); // seat of speaker 3
    EXPECT_EQ(result->annotations[1].start, 6);
    EXPECT_EQ(result->model, "model-x");
    EXPECT_EQ(result->inputTokens, 120);
    EXPECT_EQ(result->outputTokens, 40);
    EXPECT_EQ(result->stepDetected, (StepDetection { 3, 0.6 }));
    EXPECT_EQ(result->harshStartup->note, "Blame first.");
    EXPECT_EQ(result->circularity->rationale, "No point came back.");
    EXPECT_TRUE(f.log.empty());

    ASSERT_EQ(f.model->calls.size(), 1u);
    EXPECT_TRUE(f.model->calls[0].user.contains("You never listen to me."));
    EXPECT_FALSE(f.model->calls[0].system.contains("You never listen to me."));
    EXPECT_TRUE(f.model->calls[0].system.contains("kitchen_sinking"));
    EXPECT_EQ(f.model->calls[0].timeout, 30s);

    // A fenced answer reads the same; a check-in keeps only warm moments.
    f.model->script = { answerWith("```json\n" + text(goodAnswer()) + "```") };
    EXPECT_EQ(f.analyzer.analyze(request()), result);
    const auto checkin = f.analyzer.analyze(request(AnalysisRubric::checkin));
    EXPECT_EQ(lumora::testing::findings(*checkin), (QStringList { "2:repair" }));
    EXPECT_FALSE(checkin->harshStartup.has_value());
    EXPECT_NE(f.model->calls.back().system, f.model->calls.front().system);
}

TEST(ModelAnalyzer, FindingsThatBreakARuleAreDropped)
{
    struct Case {
        const char* name;
        QJsonValue annotation;
    };
    const std::vector<Case> cases {
        { "unknown code", QJsonObject { { "turn_index", 0 }, { "code", "sarcasm" }, { "confidence", 0.5 } } },
        { "turn past the batch",
            QJsonObject { { "turn_index", 3 }, { "code", "contempt" }, { "confidence", 0.5 } } },
        { "negative turn",
            QJsonObject { { "turn_index", -1 }, { "code", "contempt" }, { "confidence", 0.5 } } },
        { "fractional turn",
            QJsonObject { { "turn_index", 1.5 }, { "code", "contempt" }, { "confidence", 0.5 } } },
        { "turn as text",
            QJsonObject { { "turn_index", "1" }, { "code", "contempt" }, { "confidence", 0.5 } } },
        { "confidence above 1",
            QJsonObject { { "turn_index", 1 }, { "code", "contempt" }, { "confidence", 1.2 } } },
        { "negative confidence",
            QJsonObject { { "turn_index", 1 }, { "code", "contempt" }, { "confidence", -0.1 } } },
        { "no confidence", QJsonObject { { "turn_index", 1 }, { "code", "contempt" } } },
        { "duplicate", QJsonObject { { "turn_index", 0 }, { "code", "criticism" }, { "confidence", 0.3 } } },
        { "not an object", QJsonValue("criticism") },
    };
    for (const Case& c : cases) {
        Fixture f;
        QJsonObject answer = goodAnswer();
        QJsonArray annotations = answer.value("annotations").toArray();
        annotations.append(c.annotation);
        answer.insert("annotations", annotations);
        f.model->script = { answerWith(text(answer)) };
        const auto result = f.analyzer.analyze(request());
        ASSERT_TRUE(result.has_value()) << c.name;
        EXPECT_EQ(
            lumora::testing::findings(*result), (QStringList { "0:criticism", "2:repair", "0:globalizing" }))
            << c.name;
        EXPECT_EQ(f.model->calls.size(), 1u) << c.name;
    }

    // Texts past their limits and evidence out of range are left out, not cut or clamped.
    Fixture f;
    QJsonObject answer = goodAnswer();
    answer.insert("title", QString(500, 'a'));
    answer.insert("step_detected", QJsonObject { { "index", 6 }, { "confidence", 0.5 } });
    answer.insert(
        "harsh_startup", QJsonObject { { "detected", "yes" }, { "confidence", 0.5 }, { "note", "" } });
    answer.insert("nudges", QJsonArray { "One.", "", QString(1000, 'b'), "Two.", "Three.", "Four.", 7 });
    f.model->script = { answerWith(text(answer)) };
    const auto result = f.analyzer.analyze(request());
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->title.has_value());
    EXPECT_FALSE(result->stepDetected.has_value());
    EXPECT_FALSE(result->harshStartup.has_value());
    EXPECT_EQ(result->nudges, (QList<QString> { "One.", "Two.", "Three." }));
}

TEST(ModelAnalyzer, FormatCharactersAreTakenOutOfEveryText)
{
    // Right-to-left override, zero-width space and joiner, left-to-right isolate with its
    // pop, a byte-order mark and a tag character (beyond the first plane).
    const QString hidden = QString::fromUtf8("\u202E\u200B\u200D\u2066\u2069\uFEFF\U000E0041");
    const auto hide
        = [&](const QString& text) { return hidden + text.left(3) + hidden + text.mid(3) + hidden; };
    QJsonObject answer = goodAnswer();
    answer.insert("title", hide("Listening"));
    answer.insert("summary", hide("A hard start that ended in repair."));
    answer.insert("nudges", QJsonArray { hide("Say what you need."), hidden });
    answer.insert("harsh_startup",
        QJsonObject { { "detected", true }, { "confidence", 0.8 }, { "note", hide("Blame first.") } });
    Fixture f;
    f.model->script = { ModelAnswer { hide("model-x"), text(answer), 120, 40 } };
    const auto result = f.analyzer.analyze(request());
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->model, "model-x");
    EXPECT_EQ(result->title, "Listening");
    EXPECT_EQ(result->summary, "A hard start that ended in repair.");
    EXPECT_EQ(result->nudges, (QList<QString> { "Say what you need." }));
    EXPECT_EQ(result->harshStartup->note, "Blame first.");

    // A nudge whose words are nothing but format characters has no words.
    const QJsonObject nudge { { "title", hide("Pause") }, { "guidance", "Breathe first." },
        { "suggested_words", hidden } };
    Fixture g;
    g.model->script = { answerWith(text(nudge)) };
    EXPECT_EQ(g.analyzer.nudge(nudgeRequest()), RuleBasedAnalyzer().nudge(nudgeRequest()));
    g.model->script = { answerWith(text(QJsonObject { { "title", hide("Pause") }, { "guidance", "Breathe." },
        { "suggested_words", hide("One moment.") } })) };
    EXPECT_EQ(g.analyzer.nudge(nudgeRequest()), (ConversationNudge { "Pause", "Breathe.", "One moment." }));
}

// A prompt over the size limit is never sent: the rules answer at once, and say why.
TEST(ModelAnalyzer, PromptsOverTheSizeLimitAreAnsweredByTheRulesWithoutACall)
{
    const auto bytes = [](const QString& system, const QString& user) {
        return system.toUtf8().size() + user.toUtf8().size();
    };
    const qsizetype analysis = bytes(
        modelprompts::analysisSystem(AnalysisRubric::conversation), modelprompts::analysisUser(request()));
    const qsizetype coaching = bytes(modelprompts::nudgeSystem(), modelprompts::nudgeUser(nudgeRequest()));
    for (const qsizetype limit : { analysis - 1, analysis, coaching - 1, coaching }) {
        Fixture f;
        ModelAnalyzerSettings settings = Fixture::settings();
        settings.maximumPromptBytes = limit;
        const ModelAnalyzer analyzer(
            f.model, settings, [&](const std::string& line) { f.log.push_back(line); });
        f.model->script = { answerWith(text(goodAnswer())) };
        const bool analysisFits = limit >= analysis;
        EXPECT_EQ(analyzer.analyze(request())->model == u"model-x", analysisFits) << limit;
        EXPECT_EQ(f.model->calls.size(), analysisFits ? 1u : 0u) << limit;
        f.model->calls.clear();
        f.model->script = { answerWith(text(QJsonObject {
            { "title", "Pause" }, { "guidance", "Breathe." }, { "suggested_words", "One moment." } })) };
        const bool nudgeFits = limit >= coaching;
        EXPECT_EQ(analyzer.nudge(nudgeRequest())->title == u"Pause", nudgeFits) << limit;
        EXPECT_EQ(f.model->calls.size(), nudgeFits ? 1u : 0u) << limit;
        EXPECT_EQ(f.log.size(), size_t(!analysisFits) + size_t(!nudgeFits)) << limit;
        for (const std::string& line : f.log)
            EXPECT_NE(line.find("larger than the limit"), std::string::npos) << line;
    }
}

TEST(ModelAnalyzer, FailuresAreRetriedWithinTheBudgetThenTheRulesAnswer)
{
    using Kind = ModelFailure::Kind;
    const ModelAnswer valid = answerWith(text(goodAnswer()));
    QJsonObject noSummary = goodAnswer();
    noSummary.remove("summary");
    QJsonObject badList = goodAnswer();
    badList.insert("annotations", "none");
    struct Case {
        const char* name;
        std::vector<std::expected<ModelAnswer, ModelFailure>> script;
        size_t calls;
        bool fallback;
    };
    const std::vector<Case> cases {
        { "busy then fine", { std::unexpected(ModelFailure { Kind::unavailable, "status 529" }), valid }, 2,
            false },
        { "down", { std::unexpected(ModelFailure { Kind::unavailable, "timed out" }) }, 3, true },
        { "refused", { std::unexpected(ModelFailure { Kind::refused, "status 401" }) }, 1, true },
        { "prose", { answerWith("Here is my analysis: it went well.") }, 3, true },
        { "no summary", { answerWith(text(noSummary)) }, 3, true },
        { "annotations not a list", { answerWith(text(badList)) }, 3, true },
        { "nameless model", { ModelAnswer { "", text(goodAnswer()), 1, 1 } }, 3, true },
    };
    const RuleBasedAnalyzer rules;
    for (const Case& c : cases) {
        Fixture f;
        f.model->script = c.script;
        const auto result = f.analyzer.analyze(request());
        ASSERT_TRUE(result.has_value()) << c.name;
        EXPECT_EQ(f.model->calls.size(), c.calls) << c.name;
        EXPECT_EQ(*result == *rules.analyze(request()), c.fallback) << c.name;
        EXPECT_EQ(f.log.size(), c.fallback ? 1u : 0u) << c.name;
        if (c.fallback) {
            EXPECT_NE(f.log[0].find("final analysis answered by the rule-based analyzer"), std::string::npos)
                << f.log[0];
        }
    }

    // The budget bounds the attempts and each attempt's wait.
    Fixture f;
    ModelAnalyzerSettings tight = Fixture::settings();
    tight.analysis.total = 150ms;
    tight.retryPause = 100ms;
    ModelAnalyzer analyzer(f.model, tight, {});
    f.model->script = { std::unexpected(ModelFailure { Kind::unavailable, "status 500" }) };
    EXPECT_EQ(analyzer.analyze(request()), rules.analyze(request()));
    // A pause of 100 ms leaves room for one more attempt at most, and it only waits for the rest.
    ASSERT_GE(f.model->calls.size(), 1u);
    ASSERT_LE(f.model->calls.size(), 2u);
    EXPECT_GT(f.model->calls[0].timeout, 100ms);
    EXPECT_LE(f.model->calls.back().timeout, f.model->calls.size() == 2 ? 50ms : 150ms);
}

TEST(ModelAnalyzer, NudgesAreReadStrictlyAndFallBackToTheRules)
{
    const RuleBasedAnalyzer rules;
    const QJsonObject good { { "title", "Pause" }, { "guidance", "Breathe first." },
        { "suggested_words", "Give me a second." } };
    QJsonObject longTitle = good;
    longTitle.insert("title", QString(81, 't'));
    QJsonObject noWords = good;
    noWords.remove("suggested_words");

    Fixture f;
    f.model->script = { answerWith(text(good)) };
    EXPECT_EQ(f.analyzer.nudge(nudgeRequest()),
        (ConversationNudge { "Pause", "Breathe first.", "Give me a second." }));
    EXPECT_EQ(f.model->calls[0].timeout, 10s);
    EXPECT_TRUE(f.model->calls[0].user.contains("\"target_seat\":0"));
    for (const QJsonObject& bad : { longTitle, noWords }) {
        Fixture g;
        g.model->script = { answerWith(text(bad)) };
        EXPECT_EQ(g.analyzer.nudge(nudgeRequest()), rules.nudge(nudgeRequest()));
        EXPECT_EQ(g.log.size(), 1u);
    }

    // Unknown rubrics are refused and nothing is asked.
    Fixture h;
    AnalysisProviderPayload unknown = request();
    unknown.rubricVersion = "baseline-1999";
    EXPECT_EQ(h.analyzer.analyze(unknown), std::unexpected(AnalyzerError::unknownRubric));
    EXPECT_EQ(h.analyzer.nudge(NudgeProviderPayload("other", turns, 0, 0)),
        std::unexpected(AnalyzerError::unknownRubric));
    EXPECT_TRUE(h.model->calls.empty());
}
