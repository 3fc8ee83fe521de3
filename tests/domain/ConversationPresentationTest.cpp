#include "domain/ConversationPresentation.hpp"

#include "domain/BehaviorCodePresentation.hpp"
#include "domain/ConversationMethod.hpp"
#include "domain/ProcessFoulPresentation.hpp"

#include <gtest/gtest.h>
#include <limits>

using namespace lumora;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

// Texts are compared as UTF-8 bytes so that a plain quote or hyphen in place of a
// typographic one fails.
QByteArray bytes(const QString& text)
{
    return text.toUtf8();
}

BehaviorAnnotation moment(
    BehaviorCode code, double start, double end = 0, double confidence = 0.9, qint64 speaker = 0)
{
    BehaviorAnnotation annotation;
    annotation.speaker = speaker;
    annotation.code = code;
    annotation.confidence = confidence;
    annotation.start = start;
    annotation.end = end;
    return annotation;
}

ProcessFoulAnnotation foulAt(double start, double end = 0, double confidence = 0.9, qint64 speaker = 0)
{
    ProcessFoulAnnotation foul;
    foul.speaker = speaker;
    foul.foul = ProcessFoul::globalizing;
    foul.confidence = confidence;
    foul.start = start;
    foul.end = end;
    return foul;
}

} // namespace

TEST(ConversationPresentation, AgendaTextsAreExact)
{
    struct Step {
        qint64 id;
        const char* name;
        const char* guidance;
        const char* starter;
    };
    const Step expected[] = {
        { 0, "Arrive regulated",
            "Each of you names how activated you feel right now, and takes one slow breath before you start.",
            "Before we start — where am I on the scale, and can I settle first?" },
        { 1, "Name the cycle", "Name the loop you both get stuck in — the pattern, not the person.",
            "The cycle we keep getting stuck in is…" },
        { 2, "Reach underneath",
            "Name the vulnerable feeling beneath your protest or withdrawal, and what you needed.",
            "Underneath that, what I’m really feeling is…" },
        { 3, "Attune", "Reflect the feeling and the need before answering, so your partner feels felt.",
            "What I’m hearing is you felt… did I get that?" },
        { 4, "The other side", "Share your experience of the same cycle with the same vulnerability.",
            "My side of that same cycle is…" },
        { 5, "Turn toward", "Each of you offers one small turning-toward move to make before the next talk.",
            "One way I can turn toward you this week is…" },
    };
    const QList<ConversationAgendaStep>& agenda = ConversationMethod::agenda();
    ASSERT_EQ(agenda.size(), 6);
    for (qsizetype i = 0; i < agenda.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(agenda[i].id, expected[i].id);
        EXPECT_EQ(bytes(agenda[i].name), QByteArray(expected[i].name));
        EXPECT_EQ(bytes(agenda[i].guidance), QByteArray(expected[i].guidance));
        EXPECT_EQ(bytes(agenda[i].starter), QByteArray(expected[i].starter));
    }
    EXPECT_EQ(&ConversationMethod::agenda(), &agenda);
}

TEST(ConversationPresentation, BehaviorCodeTextsAreExact)
{
    struct Texts {
        BehaviorCode code;
        const char* displayName;
        bool warm;
        const char* title;
        const char* body;
    };
    const Texts expected[] = {
        { BehaviorCode::criticism, "Protest", false, "There’s a longing under that",
            "Say the reach, not the attack: “I miss you — can we…?”" },
        { BehaviorCode::contempt, "Wounding", false, "That was meant to wound",
            "Reach for what you need instead of what will hurt." },
        { BehaviorCode::defensiveness, "Defending", false, "The guard came up",
            "Let one true thing land: “You’re right about…”" },
        { BehaviorCode::stonewalling, "Withdrawing", false, "You just deactivated",
            "Even “I need a minute — I’m not leaving” keeps connection alive." },
        { BehaviorCode::repair, "Turning toward", true, "That was a turn toward — and it landed",
            "Turning toward in the middle of the cycle is the whole move." },
        { BehaviorCode::positive, "Connection", true, nullptr, nullptr },
    };
    ASSERT_EQ(std::size(expected), EnumTraits<BehaviorCode>::allCases.size());
    for (const Texts& texts : expected) {
        SCOPED_TRACE(texts.displayName);
        EXPECT_EQ(bytes(displayName(texts.code)), QByteArray(texts.displayName));
        EXPECT_EQ(isWarm(texts.code), texts.warm);
        const std::optional<QString> title = coachingTitle(texts.code);
        const std::optional<QString> body = coachingBody(texts.code);
        ASSERT_EQ(title.has_value(), texts.title != nullptr);
        ASSERT_EQ(body.has_value(), texts.body != nullptr);
        EXPECT_EQ(bytes(title.value_or(QString())), QByteArray(texts.title));
        EXPECT_EQ(bytes(body.value_or(QString())), QByteArray(texts.body));
    }
}

TEST(ConversationPresentation, ProcessFoulTextsAreExact)
{
    struct Texts {
        ProcessFoul foul;
        const char* displayName;
        const char* title;
        const char* body;
    };
    const Texts expected[] = {
        { ProcessFoul::kitchenSinking, "Piling on", "One hurt at a time",
            "Stay with the one hurt that started the cycle tonight." },
        { ProcessFoul::globalizing, "Always / never", "One moment, not a verdict",
            "Shrink “always” or “never” back to the one moment that hurt." },
        { ProcessFoul::dredgingPast, "Old wound", "That’s an old wound",
            "Give the old wound its own care; stay with what just happened." },
        { ProcessFoul::mindReading, "Story-making", "That’s your story about them",
            "Trade the story for a question: “what was happening for you?”" },
    };
    ASSERT_EQ(std::size(expected), EnumTraits<ProcessFoul>::allCases.size());
    for (const Texts& texts : expected) {
        SCOPED_TRACE(texts.displayName);
        EXPECT_EQ(bytes(displayName(texts.foul)), QByteArray(texts.displayName));
        EXPECT_EQ(bytes(coachingTitle(texts.foul)), QByteArray(texts.title));
        EXPECT_EQ(bytes(coachingBody(texts.foul)), QByteArray(texts.body));
    }
}

TEST(ConversationPresentation, WarmHardCountsKeptMomentsPerSpeaker)
{
    const QList<BehaviorAnnotation> annotations {
        moment(BehaviorCode::repair, 1, 2, 0.9, 0),
        moment(BehaviorCode::positive, 2, 3, 0.5, 1),
        moment(BehaviorCode::contempt, 3, 4, 0.8, 1),
        moment(BehaviorCode::criticism, 4, 5, 0.49, 0),
        moment(BehaviorCode::stonewalling, 5, 6, notANumber, 1),
        moment(BehaviorCode::defensiveness, 6, 7, 0.7, 3),
    };
    const QList<ProcessFoulAnnotation> fouls { foulAt(1, 2, 0.6, 0), foulAt(2, 3, 0.49, 1),
        foulAt(3, 4, 1.0, 1) };

    struct Case {
        std::optional<qint64> speaker;
        ConversationPresentation::WarmHard expected;
    };
    for (const Case& c : {
             Case { std::nullopt, { 2, 4 } },
             Case { 0, { 1, 1 } },
             Case { 1, { 1, 2 } },
             // Compared as given: speaker 3 is not folded into seat 1.
             Case { 3, { 0, 1 } },
             Case { std::numeric_limits<qint64>::min(), { 0, 0 } },
         }) {
        SCOPED_TRACE(c.speaker.value_or(-99));
        EXPECT_EQ(ConversationPresentation::warmHard(annotations, fouls, c.speaker), c.expected);
    }
}

TEST(ConversationPresentation, ArcWithoutMomentsIsFlatAndEndsAtADefinedTime)
{
    const QList<EmotionalArcPoint> flat { { 0, 0, 0 }, { 1, 300, 0 } };
    EXPECT_EQ(ConversationPresentation::arc({}, {}, 300), flat);
    // Moments below the floor are no moments at all.
    EXPECT_EQ(ConversationPresentation::arc(
                  { moment(BehaviorCode::contempt, 10, 20, 0.49) }, { foulAt(10, 400, 0.49) }, 300),
        flat);

    // The end is the larger of the duration and the last moment's end, never not-a-number.
    const auto repairUntil = [](double end) { return QList { moment(BehaviorCode::repair, 30, end) }; };
    struct Case {
        QList<BehaviorAnnotation> moments;
        double duration;
        double endTime;
    };
    for (const Case& c : { Case { {}, -5, 0 }, Case { {}, notANumber, 0 },
             Case { {}, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity() },
             Case { repairUntil(40), 300, 300 }, Case { repairUntil(40), notANumber, 40 },
             Case { repairUntil(notANumber), notANumber, 30 } }) {
        SCOPED_TRACE(c.duration);
        EXPECT_EQ(ConversationPresentation::arc(c.moments, {}, c.duration).last().time, c.endTime);
    }
}

TEST(ConversationPresentation, ArcDecaysAndStaysWithinLimits)
{
    QList<BehaviorAnnotation> repairs;
    for (int i = 0; i < 5; ++i)
        repairs.append(moment(BehaviorCode::repair, 10.0 * (i + 1), 10.0 * (i + 1) + 5));
    const QList<EmotionalArcPoint> arc = ConversationPresentation::arc(repairs, {}, 100);
    ASSERT_EQ(arc.size(), 7);
    const double scores[] = { 0, 1, 1.82, 2.4924, 3.043768, 3.49588976, 3.49588976 };
    for (qsizetype i = 0; i < arc.size(); ++i)
        EXPECT_NEAR(arc[i].score, scores[i], 1e-12) << i;
    EXPECT_EQ(arc[6].time, 100);

    QList<BehaviorAnnotation> hard;
    QList<BehaviorAnnotation> warm;
    for (int i = 0; i < 60; ++i) {
        hard.append(moment(BehaviorCode::contempt, i, i + 1));
        warm.append(moment(BehaviorCode::positive, i, i + 1));
    }
    double lowest = 0;
    for (const EmotionalArcPoint& point : ConversationPresentation::arc(hard, {}, 0))
        lowest = std::min(lowest, point.score);
    EXPECT_EQ(lowest, -4.0);
    EXPECT_EQ(ConversationPresentation::arc(warm, {}, 0).last().score, 4.0);
    // From the limit, one warm moment decays the score before adding to it.
    hard.append(moment(BehaviorCode::repair, 100, 101));
    EXPECT_NEAR(ConversationPresentation::arc(hard, {}, 0).last().score, -4.0 * 0.82 + 1.0, 1e-12);
}

TEST(ConversationPresentation, ArcOrdersMomentsByStart)
{
    // Out of list order, an annotation and a foul sharing a start, and a last moment that
    // runs past the conversation's end.
    const QList<EmotionalArcPoint> arc = ConversationPresentation::arc(
        { moment(BehaviorCode::repair, 30, 400), moment(BehaviorCode::criticism, 10, 12),
            moment(BehaviorCode::positive, 20, 21, 0.5) },
        { foulAt(10, 11), foulAt(5, 6, 0.49) }, 300);
    ASSERT_EQ(arc.size(), 6);
    EXPECT_EQ(arc[1].time, 10);
    EXPECT_DOUBLE_EQ(arc[1].score, -1.0); // the annotation first
    EXPECT_EQ(arc[2].time, 10);
    EXPECT_DOUBLE_EQ(arc[2].score, -1.82);
    EXPECT_EQ(arc[3].time, 20);
    EXPECT_EQ(arc[4].time, 30);
    EXPECT_EQ(arc[5], (EmotionalArcPoint { 5, 400, arc[4].score }));

    // Moments without a start are left out.
    const QList<EmotionalArcPoint> timeless = ConversationPresentation::arc(
        { moment(BehaviorCode::contempt, notANumber, 5), moment(BehaviorCode::repair, 40, 41),
            moment(BehaviorCode::repair, -std::numeric_limits<double>::infinity(), 1) },
        { foulAt(notANumber, 1) }, 60);
    ASSERT_EQ(timeless.size(), 4);
    EXPECT_EQ(timeless[1].time, -std::numeric_limits<double>::infinity());
    EXPECT_NEAR(timeless[2].score, 1.82, 1e-12);
    EXPECT_EQ(timeless[3], (EmotionalArcPoint { 3, 60, timeless[2].score }));
}
