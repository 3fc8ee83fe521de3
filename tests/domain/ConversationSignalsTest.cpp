#include "domain/ConversationSignals.hpp"

#include "domain/CircularityGate.hpp"

#include <gtest/gtest.h>
#include <limits>

using namespace lumora;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr qint64 minInt = std::numeric_limits<qint64>::min();
constexpr qint64 maxInt = std::numeric_limits<qint64>::max();

// Built field by field so that speakers stay as given, as after decoding.
BehaviorAnnotation annotation(
    qint64 turnIndex, qint64 speaker, double confidence = 0.6, BehaviorCode code = BehaviorCode::criticism)
{
    BehaviorAnnotation a;
    a.turnIndex = turnIndex;
    a.speaker = speaker;
    a.code = code;
    a.confidence = confidence;
    return a;
}

ProcessFoulAnnotation foul(qint64 turnIndex, qint64 speaker, double confidence, ProcessFoul kind)
{
    ProcessFoulAnnotation f;
    f.turnIndex = turnIndex;
    f.speaker = speaker;
    f.foul = kind;
    f.confidence = confidence;
    return f;
}

SpeakerTurn turn(qint64 speaker, QString text, double start = 0, double end = 1)
{
    SpeakerTurn t;
    t.speaker = speaker;
    t.start = start;
    t.end = end;
    t.text = std::move(text);
    return t;
}

// Eight turns: speaker 0 says `first` and later `second`, everything else is speaker 1's
// filler without significant words.
QList<SpeakerTurn> conversation(const QString& first, const QString& second, qint64 speaker = 0)
{
    QList<SpeakerTurn> turns;
    for (int i = 0; i < 8; ++i)
        turns.append(turn(1, QStringLiteral("ok, so we go on")));
    turns[1] = turn(speaker, first);
    turns[5] = turn(speaker, second);
    return turns;
}

} // namespace

TEST(ConversationSignals, FloodingNeedsFourHardMomentsFromTwoSpeakers)
{
    // Criticism at confidence 0.6, one per (turn, speaker) pair.
    const auto hard = [](std::initializer_list<std::pair<qint64, qint64>> moments) {
        QList<BehaviorAnnotation> list;
        for (const auto& [turnIndex, speaker] : moments)
            list.append(annotation(turnIndex, speaker));
        return list;
    };
    const QList<BehaviorAnnotation> three = hard({ { 0, 0 }, { 1, 1 }, { 2, 0 } });
    struct Case {
        const char* name;
        QList<BehaviorAnnotation> annotations;
        QList<ProcessFoulAnnotation> fouls;
        qint64 settledTurnCount;
        bool flooding;
    };
    const Case cases[] = {
        { "two speakers", hard({ { 0, 0 }, { 1, 1 }, { 2, 0 }, { 2, 1 } }), {}, 3, true },
        { "one speaker", hard({ { 0, 0 }, { 1, 0 }, { 2, 0 }, { 2, 0 } }), {}, 3, false },
        { "three are not enough", three, {}, 3, false },
        { "a foul makes four", three, { foul(2, 0, 0.5, ProcessFoul::mindReading) }, 3, true },
        { "a second speaker only on a foul", hard({ { 0, 0 }, { 1, 0 }, { 2, 0 } }),
            { foul(2, 1, 0.5, ProcessFoul::globalizing) }, 3, true },
        { "warm codes never count",
            three
                + QList { annotation(2, 1, 0.9, BehaviorCode::repair),
                    annotation(2, 1, 0.9, BehaviorCode::positive) },
            {}, 3, false },
        { "confidence below the floor", three + QList { annotation(2, 1, 0.49) },
            { foul(2, 1, 0.49, ProcessFoul::globalizing) }, 3, false },
        { "confidence not a number", three + QList { annotation(2, 1, notANumber) }, {}, 3, false },
        { "oldest turn of the window", hard({ { 3, 0 }, { 4, 1 }, { 5, 0 }, { 9, 1 } }), {}, 10, true },
        { "one turn before the window", hard({ { 2, 0 }, { 4, 1 }, { 5, 0 }, { 9, 1 } }), {}, 10, false },
        { "the turn still settling", hard({ { 4, 0 }, { 5, 1 }, { 6, 0 }, { 10, 1 } }), {}, 10, false },
        { "speakers as given, not seats", hard({ { 0, 0 }, { 1, 2 }, { 2, 0 }, { 2, 2 } }), {}, 3, true },
        { "lowest turn count", hard({ { minInt, 0 }, { minInt, 1 }, { minInt, 0 }, { minInt, 1 } }), {},
            minInt, false },
        { "highest turn count",
            hard({ { maxInt - 7, 0 }, { maxInt - 1, 1 }, { maxInt - 1, 0 }, { maxInt - 1, 1 } }), {}, maxInt,
            true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ConversationSignals::isFlooding(c.annotations, c.fouls, c.settledTurnCount), c.flooding);
    }
}

TEST(ConversationSignals, RepeatedCycleComparesSignificantWordsOfOneSpeaker)
{
    struct Case {
        const char* name;
        QString first;
        QString second;
        bool circular;
    };
    const Case cases[] = {
        { "same three words", u"Dishes, laundry, garbage!"_qs, u"garbage... DISHES and laundry"_qs, true },
        { "five of eight shared", u"alpha beta gamma delta epsilon zeta"_qs,
            u"alpha beta gamma delta epsilon eta theta"_qs, true },
        { "three of five shared", u"alpha beta gamma delta"_qs, u"alpha beta gamma epsilon"_qs, false },
        { "short words and stop words do not count", u"dishes laundry garbage"_qs,
            u"dishes laundry about your that we go to"_qs, false },
        { "an apostrophe splits a word", u"won't can't shouldn't"_qs, u"won can shouldn"_qs, true },
        { "accents written either way", u"caf\u00e9 na\u00efve r\u00e9sum\u00e9"_qs,
            u"CAFE\u0301 nai\u0308ve re\u0301sume\u0301"_qs, true },
        // Two letters with their accents are two characters, however many code points.
        { "a letter with its marks is one character", u"e\u0301a\u0301 dishes laundry"_qs,
            u"e\u0301a\u0301 dishes laundry"_qs, false },
        { "letters beyond the basic plane", u"\U0001D4D0\U0001D4D1\U0001D4D2 dishes laundry"_qs,
            u"\U0001D4D0\U0001D4D1\U0001D4D2 laundry dishes"_qs, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ConversationSignals::isLikelyCircular(conversation(c.first, c.second), 90.0), c.circular);
    }
}

TEST(ConversationSignals, RepeatedCycleNeedsEightTurnsAndNinetySeconds)
{
    const QList<SpeakerTurn> turns = conversation(u"dishes laundry garbage"_qs, u"garbage laundry dishes"_qs);
    EXPECT_TRUE(ConversationSignals::isLikelyCircular(turns, 90.0));
    EXPECT_FALSE(ConversationSignals::isLikelyCircular(turns, 89.9));
    EXPECT_FALSE(ConversationSignals::isLikelyCircular(turns, notANumber));
    EXPECT_FALSE(ConversationSignals::isLikelyCircular(turns.mid(1), 200.0));

    // Only the last eight turns are looked at.
    QList<SpeakerTurn> longer = turns;
    longer.append(turn(1, u"fine"_qs));
    EXPECT_TRUE(ConversationSignals::isLikelyCircular(longer, 200.0));
    longer.append(turn(1, u"fine"_qs));
    EXPECT_FALSE(ConversationSignals::isLikelyCircular(longer, 200.0));

    // Speaker 1 is compared like speaker 0; speakers 2, -1 and huge values never are.
    for (qint64 speaker : { qint64(1), qint64(2), qint64(-1), minInt, maxInt }) {
        SCOPED_TRACE(speaker);
        QList<SpeakerTurn> others
            = conversation(u"dishes laundry garbage"_qs, u"garbage laundry dishes"_qs, speaker);
        for (SpeakerTurn& t : others) {
            if (t.speaker == 1 && speaker != 1)
                t.speaker = 0;
        }
        EXPECT_EQ(ConversationSignals::isLikelyCircular(others, 200.0), speaker == 1);
    }
}

TEST(ConversationSignals, CircularityReadinessThresholds)
{
    struct Case {
        double confidence;
        qint64 firstDetectedAtTurn;
        qint64 settledTurnCount;
        double elapsed;
        bool ready;
    };
    for (const Case& c : {
             Case { 0.72, 0, 8, 90.0, true },
             Case { 0.7199, 0, 8, 90.0, false },
             Case { 0.72, 0, 7, 90.0, false },
             Case { 0.72, 0, 8, 89.99, false },
             Case { 0.72, 5, 8, 90.0, true },
             Case { 0.72, 6, 8, 90.0, false },
             Case { notANumber, 0, 8, 90.0, false },
             Case { 0.72, 0, 8, notANumber, false },
             Case { 0.72, minInt, maxInt, 90.0, true },
             Case { 0.72, maxInt, maxInt, 90.0, false },
             Case { 0.72, 0, minInt, 90.0, false },
         }) {
        SCOPED_TRACE(::testing::Message()
            << c.confidence << " " << c.firstDetectedAtTurn << " " << c.settledTurnCount << " " << c.elapsed);
        EXPECT_EQ(ConversationSignals::circularityReady(
                      c.confidence, c.firstDetectedAtTurn, c.settledTurnCount, c.elapsed),
            c.ready);
    }
}

TEST(CircularityGate, FiresOnTheThirdTurnAfterFirstDetection)
{
    CircularityGate gate;
    EXPECT_FALSE(gate.update(true, 0.8, 8, 100));
    EXPECT_EQ(gate.firstDetectedAtTurn, 8);
    EXPECT_FALSE(gate.update(true, 0.8, 9, 100));
    EXPECT_FALSE(gate.update(true, 0.8, 10, 100));
    EXPECT_TRUE(gate.update(true, 0.8, 11, 100));
    EXPECT_FALSE(gate.update(true, 0.71, 12, 101));

    // A break in qualifying starts the count again.
    EXPECT_FALSE(gate.update(false, 0.9, 13, 102));
    EXPECT_EQ(gate.firstDetectedAtTurn, std::nullopt);
    EXPECT_FALSE(gate.update(true, 0.8, 14, 103));
    EXPECT_FALSE(gate.update(true, 0.8, 16, 103));
    EXPECT_TRUE(gate.update(true, 0.8, 17, 103));
    EXPECT_FALSE(gate.update(true, 0.8, 18, notANumber));
}

TEST(CircularityGate, StaysSilentAfterDismissal)
{
    struct Case {
        bool acknowledged;
        double silentUntil;
    };
    for (const Case& c : { Case { false, 620.0 }, Case { true, 800.0 } }) {
        SCOPED_TRACE(c.acknowledged);
        CircularityGate gate;
        gate.update(true, 0.8, 8, 150);
        gate.dismiss(200, c.acknowledged);
        EXPECT_EQ(gate.firstDetectedAtTurn, std::nullopt);
        EXPECT_EQ(gate.suppressedUntil, c.silentUntil);

        // Detection goes on during suppression; only the time holds the prompt back.
        EXPECT_FALSE(gate.update(true, 0.8, 20, 300));
        EXPECT_FALSE(gate.update(true, 0.8, 23, c.silentUntil - 0.01));
        EXPECT_EQ(gate.firstDetectedAtTurn, 20);
        EXPECT_TRUE(gate.update(true, 0.8, 23, c.silentUntil));

        // A dismissal at an unknown time keeps the suppression it had.
        gate.dismiss(notANumber, true);
        EXPECT_EQ(gate.suppressedUntil, c.silentUntil);
        gate.dismiss(infinity, false);
        EXPECT_FALSE(gate.update(true, 0.8, 30, 1e300));
    }
}

TEST(ConversationSignals, TurnPromptLevels)
{
    using L = std::optional<TurnPromptLevel>;
    struct Case {
        double elapsed;
        bool extensionUsed;
        L level;
    };
    for (const Case& c : {
             Case { 119.99, false, std::nullopt },
             Case { 120.0, false, TurnPromptLevel::first },
             Case { 150.0, true, std::nullopt },
             Case { 179.99, true, std::nullopt },
             Case { 180.0, false, TurnPromptLevel::final },
             Case { 180.0, true, TurnPromptLevel::final },
             Case { infinity, true, TurnPromptLevel::final },
             Case { notANumber, false, std::nullopt },
         }) {
        SCOPED_TRACE(::testing::Message() << c.elapsed << " " << c.extensionUsed);
        EXPECT_EQ(ConversationSignals::turnPrompt(c.elapsed, c.extensionUsed), c.level);
    }
}

TEST(ConversationSignals, FallbackBoundary)
{
    const QString fourteen
        = u"one two three four five six seven eight nine ten eleven twelve thirteen fourteen"_qs;
    const QString fifteen = fourteen + u" fifteen"_qs;
    const ConversationalFloor floor(0, 10.0);
    const TurnBoundaryDecision interjection { TurnBoundaryKind::interjection, 0.45 };
    const TurnBoundaryDecision handoff { TurnBoundaryKind::handoff, 0.35 };
    struct Case {
        const char* name;
        SpeakerTurn candidate;
        std::optional<SpeakerTurn> following;
        TurnBoundaryDecision decision;
    };
    const Case cases[] = {
        { "short, holder speaks again", turn(1, fourteen, 20, 26), turn(0, u"so"_qs), interjection },
        { "one word too many", turn(1, fifteen, 20, 26), turn(0, u"so"_qs), handoff },
        { "too long", turn(1, u"yes"_qs, 20, 26.01), turn(0, u"so"_qs), handoff },
        { "nothing follows", turn(1, u"yes"_qs, 20, 21), std::nullopt, handoff },
        { "the candidate goes on", turn(1, u"yes"_qs, 20, 21), turn(1, u"and"_qs), handoff },
        { "the holder's seat under another index", turn(1, u"yes"_qs, 20, 21), turn(2, u"so"_qs),
            interjection },
        { "a reversed utterance is short", turn(1, u"yes"_qs, 21, 20), turn(0, u"so"_qs), interjection },
        { "a length that is not a number", turn(1, u"yes"_qs, 20, notANumber), turn(0, u"so"_qs), handoff },
        { "an endless utterance", turn(1, u"yes"_qs, 20, infinity), turn(0, u"so"_qs), handoff },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ConversationSignals::fallbackBoundary(floor, c.candidate, c.following), c.decision);
    }
}

TEST(ConversationSignals, ApplyingBoundaries)
{
    const ConversationalFloor floor(0, 10.0, 0.9, 2);
    const TurnBoundaryDecision handoff { TurnBoundaryKind::handoff, 0.35 };
    const TurnBoundaryDecision interjection { TurnBoundaryKind::interjection, 0.45 };

    // The holder's own utterance, under any index of the same seat, changes nothing.
    EXPECT_EQ(ConversationSignals::applyBoundary(floor, turn(2, u"more"_qs, 30, 31), handoff), floor);
    EXPECT_EQ(
        ConversationSignals::applyBoundary(floor, turn(minInt, u"more"_qs, 30, 31), interjection), floor);

    EXPECT_EQ(ConversationSignals::applyBoundary(floor, turn(-1, u"mine"_qs, 30, 31), handoff),
        ConversationalFloor(1, 30.0, 0.35, 0));
    EXPECT_EQ(ConversationSignals::applyBoundary(floor, turn(1, u"yes"_qs, 30, 31), interjection),
        ConversationalFloor(0, 10.0, 0.45, 3));

    ConversationalFloor full = floor;
    full.interjections = maxInt;
    EXPECT_EQ(
        ConversationSignals::applyBoundary(full, turn(1, u"yes"_qs, 30, 31), interjection).interjections,
        maxInt);
}
