#include "domain/TurnGrouping.hpp"

#include "domain/ConversationStats.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <tuple>

using namespace lumora;

namespace {

const QString longSentence = QStringLiteral("I have been thinking about how the week went for us");

// Seats of the groups and, per group, which pieces are interjections ("-" holder, "i" interjection).
QStringList shape(const QList<ConversationTurn>& groups)
{
    QStringList result;
    for (const ConversationTurn& group : groups) {
        QString pieces = QString::number(group.speaker) + ":";
        for (const ConversationTurnPiece& piece : group.pieces)
            pieces += piece.isInterjection ? "i" : "-";
        result << pieces;
    }
    return result;
}

} // namespace

TEST(TurnGrouping, InterjectionThresholds)
{
    struct Case {
        const char* name;
        QString middleText;
        double middleDuration;
        QStringList expected;
    };
    const QList<Case> cases {
        { "one word", "Mm", 0.8, { "0:-i-" } },
        { "six words lasting exactly 3.0 s", "one two three four five six", 3.0, { "0:-i-" } },
        { "seven words", "one two three four five six seven", 1.0, { "0:-", "1:-", "0:-" } },
        { "lasting 3.01 s", "okay", 3.01, { "0:-", "1:-", "0:-" } },
        { "negative duration passes", "okay", -2.0, { "0:-i-" } },
        { "words split at any Unicode whitespace", QString::fromUtf8("a\u00a0b\u2003c\nd\te\u3000f"), 1.0,
            { "0:-i-" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QList<SpeakerTurn> turns { SpeakerTurn(0, 0, 5, longSentence),
            SpeakerTurn(1, 5, 5 + c.middleDuration, c.middleText), SpeakerTurn(0, 6, 9, longSentence) };
        EXPECT_EQ(shape(TurnGrouping::group(turns)), c.expected);
    }
}

TEST(TurnGrouping, NextUtteranceDecidesInterjections)
{
    // The last utterance of the list is never an interjection.
    EXPECT_EQ(
        shape(TurnGrouping::group({ SpeakerTurn(0, 0, 5, longSentence), SpeakerTurn(1, 5, 5.8, "Mm") })),
        (QStringList { "0:-", "1:-" }));
    // Seats 0, 1, 1, 0: the first seat-1 utterance is followed by seat 1, so it opens a turn.
    EXPECT_EQ(shape(TurnGrouping::group({ SpeakerTurn(0, 0, 5, longSentence), SpeakerTurn(1, 5, 5.5, "Mm"),
                  SpeakerTurn(1, 5.5, 6, "yes"), SpeakerTurn(0, 6, 9, longSentence) })),
        (QStringList { "0:-", "1:--", "0:-" }));
    // Decoded speakers 0 and 2 share seat 0; -1 belongs to seat 1.
    QList<SpeakerTurn> decoded { SpeakerTurn(0, 0, 1, "a"), SpeakerTurn(0, 1, 2, "b"),
        SpeakerTurn(0, 2, 3, "c") };
    decoded[1].speaker = 2;
    decoded[2].speaker = -1;
    EXPECT_EQ(shape(TurnGrouping::group(decoded)), (QStringList { "0:--", "1:-" }));
    EXPECT_TRUE(TurnGrouping::group({}).isEmpty());
}

TEST(TurnGrouping, StatisticsCountInterjectionsAsTheInterjectorsTalkTime)
{
    const QList<SpeakerTurn> turns { SpeakerTurn(0, 0, 5, longSentence), SpeakerTurn(1, 5, 5.8, "Mm"),
        SpeakerTurn(0, 6, 9, longSentence), SpeakerTurn(1, 10, 14, longSentence) };
    const auto groups = TurnGrouping::group(turns);
    ASSERT_EQ(shape(groups), (QStringList { "0:-i-", "1:-" }));
    EXPECT_DOUBLE_EQ(groups[0].talkTime, 8.0);
    EXPECT_DOUBLE_EQ(groups[0].end, 9.0);

    const auto stats = TurnGrouping::stats(groups);
    ASSERT_EQ(stats.size(), 2);
    EXPECT_EQ(std::tuple(stats[0].speaker, stats[0].turns, stats[0].talkTime, stats[0].longestTurn),
        std::tuple(0, 1, 8.0, 8.0));
    EXPECT_EQ(std::tuple(stats[1].speaker, stats[1].turns, stats[1].longestTurn), std::tuple(1, 1, 4.0));
    EXPECT_DOUBLE_EQ(stats[1].talkTime, 4.8);
    EXPECT_DOUBLE_EQ(stats[1].share, 4.8 / 12.8);

    // A seat that only interjects has talk time but no turns and no longest turn.
    const auto onlyInterjecting = ConversationStats::compute({ SpeakerTurn(0, 0, 5, longSentence),
        SpeakerTurn(1, 5, 5.8, "Mm"), SpeakerTurn(0, 6, 9, longSentence) });
    ASSERT_EQ(onlyInterjecting.size(), 2);
    EXPECT_EQ(std::tuple(onlyInterjecting[1].turns, onlyInterjecting[1].longestTurn), std::tuple(0, 0.0));
    EXPECT_DOUBLE_EQ(onlyInterjecting[1].talkTime, 0.8);
    EXPECT_TRUE(ConversationStats::compute({}).isEmpty());
}

TEST(TurnGrouping, OddTimesGiveDefinedResults)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Reversed, unbounded and undefined utterances add no talk time, and the turn never
    // ends before its first start.
    const auto groups = TurnGrouping::group({ SpeakerTurn(0, 10, 4, "back"),
        SpeakerTurn(0, 0, inf, "forever"), SpeakerTurn(0, nan, 3, "when"), SpeakerTurn(0, 1, nan, "then") });
    ASSERT_EQ(groups.size(), 1);
    EXPECT_EQ(std::tuple(groups[0].start, groups[0].end, groups[0].talkTime), std::tuple(10.0, inf, 0.0));
    EXPECT_EQ(TurnGrouping::stats(groups).value(0).share, 0.0);

    // All durations zero: every share is 0.
    for (const SpeakerStats& s :
        ConversationStats::compute({ SpeakerTurn(0, 1, 1, "a"), SpeakerTurn(1, 2, 2, "b") }))
        EXPECT_EQ(s.share, 0.0);

    // Interjection that lasts NaN seconds is not short.
    EXPECT_EQ(shape(TurnGrouping::group({ SpeakerTurn(0, 0, 5, longSentence), SpeakerTurn(1, nan, 5, "Mm"),
                  SpeakerTurn(0, 6, 9, longSentence) })),
        (QStringList { "0:-", "1:-", "0:-" }));
}

TEST(TurnGrouping, IndexMapFindsTheGroupOfEachUtterance)
{
    const auto groups
        = TurnGrouping::group({ SpeakerTurn(0, 0, 5, longSentence), SpeakerTurn(1, 5, 5.8, "Mm"),
            SpeakerTurn(0, 6, 9, longSentence), SpeakerTurn(1, 10, 14, longSentence) });
    const auto index = TurnGrouping::groupIndexByTurnIndex(groups);
    EXPECT_EQ(index, (QHash<qint64, qsizetype> { { 0, 0 }, { 1, 0 }, { 2, 0 }, { 3, 1 } }));

    // A turn index that appears twice maps to its last group.
    QList<ConversationTurn> duplicated = groups;
    duplicated.append(
        ConversationTurn(1, 20, 21, 1, { ConversationTurnPiece(3, 1, "again", 20, 21, false) }));
    EXPECT_EQ(TurnGrouping::groupIndexByTurnIndex(duplicated).value(3), 2);
    EXPECT_EQ(ConversationTurn(std::numeric_limits<qint64>::min(), 0, 0, 0, {}).speaker, 0);
}
