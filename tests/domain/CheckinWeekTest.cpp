#include "domain/CheckinWeek.hpp"

#include "domain/CheckinBundledPack.hpp"
#include "domain/CheckinFlow.hpp"
#include "domain/CheckinReview.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <set>

using namespace lumora;

namespace {

QDateTime utc(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toUTC();
}

QStringList promptTexts(const CheckinSection& section)
{
    QStringList texts;
    for (const CheckinPrompt& prompt : section.prompts)
        texts.append(prompt.text);
    return texts;
}

} // namespace

TEST(CheckinWeek, KeysFollowIsoWeeksAcrossYearBoundaries)
{
    struct Case {
        const char* date;
        const char* key;
    };
    for (const Case& c : {
             Case { "2026-02-09T00:00:00Z", "2026-W07" },
             Case { "2026-02-08T23:59:59Z", "2026-W06" },
             Case { "2027-01-03T23:59:59Z", "2026-W53" },
             Case { "2027-01-04T00:00:00Z", "2027-W01" },
             Case { "2025-12-29T00:00:00Z", "2026-W01" },
             Case { "2021-01-03T00:00:00Z", "2020-W53" },
             Case { "2024-12-30T00:00:00Z", "2025-W01" },
             Case { "0900-03-01T00:00:00Z", "900-W09" },
         }) {
        SCOPED_TRACE(c.date);
        EXPECT_EQ(CheckinWeek::key(utc(c.date), CheckinWeek::packCalendar()), c.key);
    }
    EXPECT_EQ(CheckinWeek::key(QDateTime(), CheckinWeek::packCalendar()), "0-W00");
}

TEST(CheckinWeek, KeysAreTakenInTheCalendarPassedIn)
{
    // Sunday late evening in UTC is already Monday in Tokyo and still Sunday in New York.
    const QDateTime moment = utc("2026-02-15T20:30:00Z");
    EXPECT_EQ(CheckinWeek::key(moment, CheckinWeek::packCalendar()), "2026-W07");
    EXPECT_EQ(CheckinWeek::key(moment, QTimeZone("Asia/Tokyo")), "2026-W08");
    EXPECT_EQ(CheckinWeek::key(moment, QTimeZone("America/New_York")), "2026-W07");
    EXPECT_FALSE(CheckinWeek::isSameWeek(moment, utc("2026-02-09T00:00:00Z"), QTimeZone("Asia/Tokyo")));
}

TEST(CheckinWeek, IndexReadsKeysAndRejectsTheRest)
{
    struct Case {
        const char* key;
        qint64 index;
    };
    for (const Case& c : {
             Case { "2026-W07", 107385 },
             Case { "2026-07", 0 },
             Case { "2026-Wx", 0 },
             Case { "2026-W0W7", 0 },
             Case { "abc-W05", 5 },
             Case { "2026-w07", 0 },
             Case { "-5-W01", -5 * 53 + 1 },
             Case { "2026-W99999999999999999999", 0 },
             Case { "99999999999999999999-W01", 1 },
             Case { "999999999999999999-W01", 0 },
             Case { "", 0 },
         }) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(CheckinWeek::index(QString::fromLatin1(c.key)), c.index);
    }
}

TEST(CheckinWeek, StartIsTheMondayOfTheKeyedWeek)
{
    const QTimeZone pack = CheckinWeek::packCalendar();
    EXPECT_EQ(CheckinWeek::start(u"2026-W07", pack), utc("2026-02-09T00:00:00Z"));
    EXPECT_EQ(CheckinWeek::start(u"2026-W01", pack), utc("2025-12-29T00:00:00Z"));
    EXPECT_EQ(CheckinWeek::start(u"2026-W07", QTimeZone("Europe/Berlin")), utc("2026-02-08T23:00:00Z"));
    for (const char* key : { "abc-W05", "2026-W", "2026-W00", "2025-W53", "2026-W54", "2026-W-1", "0-W05" }) {
        SCOPED_TRACE(key);
        EXPECT_EQ(CheckinWeek::start(QString::fromLatin1(key), pack), std::nullopt);
    }
    EXPECT_EQ(CheckinWeek::start(u"2026-W07", QTimeZone("No/Such_Zone")), std::nullopt);
    // Every key a date has leads back to that date's week.
    for (const char* date : { "2027-01-01T08:00:00Z", "2021-01-03T08:00:00Z", "2026-06-15T08:00:00Z" }) {
        const QString key = CheckinWeek::key(utc(date), pack);
        const auto start = CheckinWeek::start(key, pack);
        ASSERT_TRUE(start.has_value());
        EXPECT_EQ(start->date().dayOfWeek(), 1);
        EXPECT_EQ(CheckinWeek::key(*start, pack), key);
    }
}

TEST(CheckinFlow, ClampsAndStopsAtTheEnds)
{
    struct Case {
        qint64 count, index;
        double opened;
        CheckinFlow expected;
    };
    for (const Case& c : {
             Case { 0, 3, -2, CheckinFlow(1, 0, 0) },
             Case { 5, 9, 4, CheckinFlow(5, 4, 4) },
             Case { -4, -9, 1.5, CheckinFlow(1, 0, 1.5) },
             Case { 5, 2, std::numeric_limits<double>::quiet_NaN(), CheckinFlow(5, 2, 0) },
             Case { std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), 0,
                 CheckinFlow(1, 0, 0) },
         }) {
        SCOPED_TRACE(c.count);
        EXPECT_EQ(CheckinFlow(c.count, c.index, c.opened), c.expected);
    }

    CheckinFlow flow(3, 0, 5);
    EXPECT_FALSE(flow.goBack(20));
    EXPECT_EQ(flow, CheckinFlow(3, 0, 5));
    EXPECT_TRUE(flow.advance(30));
    EXPECT_TRUE(flow.advance(-4));
    EXPECT_EQ(flow, CheckinFlow(3, 2, 0));
    EXPECT_FALSE(flow.advance(90));
    EXPECT_TRUE(flow.goBack(100));
    EXPECT_EQ(flow, CheckinFlow(3, 1, 100));
    flow.restart(-1);
    EXPECT_EQ(flow, CheckinFlow(3, 0, 0));
}

TEST(CheckinFlow, SuggestionIsPastOnlyAfterItsMinutes)
{
    const CheckinFlow flow(5, 1, 10);
    const CheckinSection twoMinutes { "appreciation", "Appreciation", 2, {} };
    EXPECT_EQ(flow.elapsedInSection(4), 0);
    EXPECT_EQ(flow.elapsedInSection(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_FALSE(flow.isPastSuggestion(twoMinutes, 130));
    EXPECT_TRUE(flow.isPastSuggestion(twoMinutes, 130.5));
    EXPECT_FALSE(flow.isPastSuggestion({ "x", "X", 0, {} }, 10000));
    EXPECT_FALSE(flow.isPastSuggestion({ "x", "X", -1, {} }, 10000));
}

TEST(CheckinReview, GentledDropsJudgementsAndKeepsTheRest)
{
    DerivedSessionResult review;
    review.title = "Sunday";
    review.stats = { SpeakerStats {} };
    review.annotations = { BehaviorAnnotation(0, 1, BehaviorCode::criticism, 0.9, 0, 1) };
    review.harshStartupDetected = true;
    review.summary = "We talked.";
    review.transcript = QList<SpeakerTurn> { SpeakerTurn(0, 0, 1, "Hi") };

    DerivedSessionResult expected = review;
    expected.mode = ConversationMode::checkin;
    expected.annotations.clear();
    expected.fouls = QList<ProcessFoulAnnotation>();
    expected.harshStartupDetected.reset();
    EXPECT_EQ(CheckinReview::gentled(review), expected);

    review.fouls
        = QList<ProcessFoulAnnotation> { ProcessFoulAnnotation(0, 0, ProcessFoul::globalizing, 0.8, 0, 1) };
    EXPECT_TRUE(CheckinReview::gentled(review).fouls->isEmpty());
}

TEST(CheckinBundledPack, PicksByTheUtcWeek)
{
    struct Case {
        const char* date;
        const char* week;
        const char* question;
    };
    for (const Case& c : {
             Case { "2026-02-15T23:59:59Z", "2026-W07", "i_close" },
             Case { "2026-02-16T00:00:00Z", "2026-W08", "p_laugh" },
             Case { "2027-01-01T00:00:00Z", "2026-W53", "f_good_year" },
             Case { "2027-01-04T00:00:00Z", "2027-W01", "l_take_off_plate" },
             Case { "2026-01-19T00:00:00Z", "2026-W04", "c_close_moment" },
         }) {
        SCOPED_TRACE(c.date);
        const CheckinPack pack = CheckinBundledPack::pack(utc(c.date));
        EXPECT_EQ(pack.week, c.week);
        EXPECT_EQ(pack.questionID, c.question);
        // Any moment of the same UTC week, on any machine, gives the same pack but its time.
        const auto monday = CheckinWeek::start(pack.week, CheckinWeek::packCalendar());
        ASSERT_TRUE(monday.has_value());
        CheckinPack sameWeek = CheckinBundledPack::pack(*monday);
        EXPECT_EQ(sameWeek.generatedAt, monday->toSecsSinceEpoch());
        sameWeek.generatedAt = pack.generatedAt;
        EXPECT_EQ(sameWeek, pack);
    }
}

TEST(CheckinBundledPack, HoldsTheBuiltInTextsExactly)
{
    const CheckinPack pack = CheckinBundledPack::pack(utc("2026-02-10T08:15:30.900Z"));
    EXPECT_EQ(pack.week, "2026-W07");
    EXPECT_EQ(pack.source, CheckinPackSource::fallback);
    EXPECT_EQ(pack.generatedAt, 1770711330);
    EXPECT_EQ(pack.questionID, "i_close");
    const QList<CheckinSection> expected {
        { "temperature", "Temperature", 1,
            { { "In one word, how did this week feel for you? Then say a little more.", std::nullopt } } },
        { "appreciation", "Appreciation", 2,
            { { "Tell me one specific thing I did this week that you appreciated.", std::nullopt } } },
        { "follow_up", "Follow-up", 4,
            { { "Is there anything we started talking about and never finished?", std::nullopt },
                { "Was there a moment this week you wish had gone differently?", std::nullopt } } },
        { "question", "This week's question", 4,
            { { "What makes it easier for you to feel close to me?", std::nullopt } } },
        { "close", "Close", 2,
            { { "What is one thing you are looking forward to next week?", std::nullopt },
                { "Name one small thing I could do for you this week.", std::nullopt } } },
    };
    EXPECT_EQ(pack.sections, expected);

    // The rotation repeats every twelve weeks; together they hold every built-in text.
    std::set<std::pair<QString, QString>> questions;
    std::set<QString> prompts;
    QDateTime date = utc("2026-01-05T12:00:00Z");
    for (int week = 0; week < 12; ++week, date = date.addDays(7)) {
        const CheckinPack weekly = CheckinBundledPack::pack(date);
        EXPECT_TRUE(weekly.isUsable());
        EXPECT_EQ(weekly.suggestedMinutes(), 13);
        questions.insert({ weekly.questionID, weekly.sections[3].prompts[0].text });
        for (int s : { 0, 1, 2, 4 })
            for (const QString& text : promptTexts(weekly.sections[s]))
                prompts.insert(text);
    }
    const std::set<std::pair<QString, QString>> expectedQuestions {
        { "c_close_moment", "When did you feel closest to me this week?" },
        { "f_good_year", "If this year went really well, what would be different by the end of it?" },
        { "l_take_off_plate", "What is one thing I could take off your plate this week?" },
        { "i_close", "What makes it easier for you to feel close to me?" },
        { "p_laugh", "What made you laugh this week?" },
        { "g_small", "What small thing made this week better?" },
    };
    EXPECT_EQ(questions, expectedQuestions);
    const std::set<QString> expectedPrompts {
        "In one word, how did this week feel for you? Then say a little more.",
        "Give this week a number out of ten, and say why you picked it.",
        "What was the weather like inside you this week?",
        "Tell me one specific thing I did this week that you appreciated.",
        "What is one thing I did this week that made your life easier?",
        "Name a moment this week when you were glad it was me.",
        "What is something from last week that is still on your mind?",
        "Is there anything we started talking about and never finished?",
        "Was there a moment this week you wish had gone differently?",
        "Is there something you asked me for recently that we should check on?",
        "What is one thing you are looking forward to next week?",
        "Name one small thing I could do for you this week.",
        "What are you hoping for in the week ahead?",
        "Ask me for one small thing, and I will ask you for one.",
        "What is one good thing already on next week's calendar?",
        "What is one small kindness we could do for each other this week?",
    };
    EXPECT_EQ(prompts, expectedPrompts);
}

TEST(CheckinBundledPack, NegativeWeekIndexesStillPickAnEntry)
{
    const CheckinPack pack
        = CheckinBundledPack::pack(QDateTime(QDate(-3, 3, 3), QTime(12, 0), QTimeZone::utc()));
    EXPECT_TRUE(pack.week.startsWith("-3-W"));
    EXPECT_LT(CheckinWeek::index(pack.week), 0);
    EXPECT_TRUE(pack.isUsable());
}
