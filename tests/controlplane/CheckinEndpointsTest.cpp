#include "ServiceFixture.hpp"
#include "domain/CheckinBundledPack.hpp"
#include "domain/CheckinWeek.hpp"

#include <QSet>

namespace lumora {
namespace {

using testing::bodyOf;
using testing::Member;

constexpr qint64 day = 24 * 60 * 60;

qint64 utc(int year, int month, int dayOfMonth, int hour = 0, int minute = 0)
{
    return QDateTime(QDate(year, month, dayOfMonth), QTime(hour, minute), QTimeZone::utc())
        .toSecsSinceEpoch();
}

QSet<QString> promptTexts(const CheckinPack& pack)
{
    QSet<QString> texts;
    for (const CheckinSection& section : pack.sections)
        for (const CheckinPrompt& prompt : section.prompts)
            texts.insert(prompt.text);
    return texts;
}

class CheckinEndpointsTest : public testing::ControlPlaneServiceTest {
protected:
    CheckinPack fetch(const Member& caller)
    {
        const auto pack = CheckinPack::fromJson(get(caller, "/v1/content/checkins/pack").value("pack"));
        EXPECT_TRUE(pack.has_value());
        return pack.value_or(CheckinPack {});
    }

    CheckinPack fetch() { return fetch(ada); }

    Member ada = member("Ada");
};

TEST_F(CheckinEndpointsTest, AnswersAUsableModelPackOfTheUtcWeek)
{
    now = utc(2026, 2, 12, 23, 30);
    const CheckinPack pack = fetch();
    EXPECT_TRUE(pack.isUsable());
    EXPECT_EQ(pack.source, CheckinPackSource::model);
    EXPECT_EQ(pack.week, "2026-W07");
    EXPECT_EQ(pack.generatedAt, utc(2026, 2, 9));
    EXPECT_FALSE(pack.questionID.isEmpty());
    EXPECT_EQ(pack.note, std::nullopt);
    // Every prompt of the week is a different one.
    EXPECT_EQ(promptTexts(pack).size(), 7);

    EXPECT_EQ(send("GET", "/v1/content/checkins/pack").status, 401);
    EXPECT_EQ(testing::codeOf(call(ada, "POST", "/v1/content/checkins/pack")), "405 method_not_allowed");
}

TEST_F(CheckinEndpointsTest, TheSameWeekGivesTheSamePackToEveryDeviceOfTheWorkspace)
{
    now = utc(2026, 2, 9);
    const CheckinPack monday = fetch();
    const Member laptop = member("Ada");
    ASSERT_EQ(laptop.device.accountID, ada.device.accountID);

    now += 7 * day - 1; // the last second of Sunday
    EXPECT_EQ(fetch(), monday);
    EXPECT_EQ(fetch(laptop), monday);
    now += 1;
    EXPECT_NE(fetch().week, monday.week);
}

// Each workspace starts at its own point of the bank; partners share theirs.
TEST_F(CheckinEndpointsTest, LinkedPartnersShareTheirWorkspacesPack)
{
    const Member bob = member("Bob");
    EXPECT_NE(fetch(bob).sections, fetch().sections);
    link(bob, ada);
    EXPECT_EQ(fetch(bob), fetch());
}

TEST_F(CheckinEndpointsTest, ConsecutiveWeeksShareNoPromptAcrossTheTurnOfTheYear)
{
    // 2026 has 53 ISO weeks; the run crosses into 2027 and on into 2028.
    now = utc(2026, 11, 2, 12);
    CheckinPack previous = fetch();
    QSet<QString> questions { previous.questionID };
    QSet<QString> served = promptTexts(previous);
    QSet<QString> builtIn;
    for (int week = 1; week < 64; ++week) {
        now += 7 * day;
        const CheckinPack pack = fetch();
        SCOPED_TRACE(pack.week.toStdString());
        EXPECT_TRUE(pack.isUsable());
        EXPECT_NE(pack.week, previous.week);
        EXPECT_NE(pack.questionID, previous.questionID);
        EXPECT_FALSE(promptTexts(pack).intersects(promptTexts(previous)));
        questions.insert(pack.questionID);
        served.unite(promptTexts(pack));
        builtIn.unite(
            promptTexts(CheckinBundledPack::pack(QDateTime::fromSecsSinceEpoch(now, QTimeZone::utc()))));
        previous = pack;
    }
    // The server's bank is its own, not the built-in pack under another source.
    EXPECT_FALSE(served.intersects(builtIn));
    // The whole question bank comes round, not just two alternating questions.
    EXPECT_GE(questions.size(), 10);
}

} // namespace
} // namespace lumora
