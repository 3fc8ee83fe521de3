#include "domain/CheckinReminderPolicy.hpp"
#include "domain/JsonObjectReader.hpp"

#include <QJsonDocument>
#include <array>
#include <gtest/gtest.h>
#include <limits>
#include <tuple>

using namespace lumora;

namespace {

constexpr qint64 sunday = 1;
constexpr qint64 monday = 2;
constexpr qint64 friday = 6;

// A wall-clock time in a zone, "2026-03-23T10:00".
QDateTime local(const QTimeZone& zone, const char* text)
{
    const QDateTime naive = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    return QDateTime(naive.date(), naive.time(), zone);
}

QDateTime utc(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toUTC();
}

CheckinReminderSettings on(qint64 weekday, qint64 hour, qint64 minute)
{
    return CheckinReminderSettings(true, weekday, hour, minute);
}

struct Case {
    const char* name;
    CheckinReminderSettings settings;
    const char* after; // wall clock in the zone
    const char* lastCheckin; // wall clock in the zone, or nothing
    const char* expected; // UTC instant, or nothing
};

void check(const QTimeZone& zone, std::initializer_list<Case> cases)
{
    ASSERT_TRUE(zone.isValid());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QDateTime> last
            = c.lastCheckin ? std::optional(local(zone, c.lastCheckin)) : std::nullopt;
        const auto next = CheckinReminderPolicy::nextReminder(local(zone, c.after), c.settings, last, zone);
        if (!c.expected) {
            EXPECT_EQ(next, std::nullopt);
            continue;
        }
        ASSERT_TRUE(next.has_value());
        EXPECT_EQ(next->toUTC().toString(Qt::ISODate).toStdString(), c.expected);
        EXPECT_EQ(next->timeZone(), zone);
    }
}

} // namespace

TEST(CheckinReminderSettings, ConstructorClampsAndStandardIsSundayEvening)
{
    const CheckinReminderSettings high(false, 8, -1, 60);
    EXPECT_EQ(std::tuple(high.weekday, high.hour, high.minute), std::tuple(7, 0, 59));
    const CheckinReminderSettings low(
        true, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), -5);
    EXPECT_EQ(std::tuple(low.weekday, low.hour, low.minute), std::tuple(1, 23, 0));
    EXPECT_EQ(CheckinReminderSettings::standard(), CheckinReminderSettings(false, 1, 19, 0));
}

TEST(CheckinReminderSettings, StoredJsonNeedsAllFourKeysAndIsNotClamped)
{
    const QJsonObject json = CheckinReminderSettings::standard().toJson();
    EXPECT_EQ(json, QJsonObject({ { "isOn", false }, { "weekday", 1 }, { "hour", 19 }, { "minute", 0 } }));
    EXPECT_EQ(decodeJson<CheckinReminderSettings>(QJsonDocument(json).toJson()),
        CheckinReminderSettings::standard());

    const auto handEdited
        = decodeJson<CheckinReminderSettings>(R"({"isOn":true,"weekday":9,"hour":-2,"minute":75})");
    ASSERT_TRUE(handEdited.has_value());
    EXPECT_EQ(std::tuple(handEdited->weekday, handEdited->hour, handEdited->minute), std::tuple(9, -2, 75));
    EXPECT_FALSE(handEdited->isInRange());

    for (const char* bad : {
             R"({"isOn":true,"weekday":1,"hour":19})",
             R"({"isOn":1,"weekday":1,"hour":19,"minute":0})",
             R"({"isOn":true,"weekday":"1","hour":19,"minute":0})",
             R"({"isOn":true,"weekday":1,"hour":19.5,"minute":0})",
             R"({"isOn":true,"weekday":1,"hour":19,"minute":null})",
             R"(not json)",
         }) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(decodeJson<CheckinReminderSettings>(QByteArray(bad)).has_value());
    }
}

TEST(CheckinReminderPolicy, AcrossDaylightSavingInBerlin)
{
    // Clocks go forward on Sunday 2026-03-29 at 02:00 and back on Sunday 2026-10-25 at 03:00.
    check(QTimeZone("Europe/Berlin"),
        {
            { "next Sunday, already summer time", on(sunday, 19, 0), "2026-03-23T10:00", nullptr,
                "2026-03-29T17:00:00Z" },
            { "check-in that same Monday moves it a week", on(sunday, 19, 0), "2026-03-23T10:00",
                "2026-03-23T09:00", "2026-04-05T17:00:00Z" },
            { "check-in late on the Sunday before does not", on(sunday, 19, 0), "2026-03-23T10:00",
                "2026-03-22T23:59", "2026-03-29T17:00:00Z" },
            { "a week on keeps the wall-clock time across the change", on(sunday, 19, 0), "2026-03-16T10:00",
                "2026-03-16T09:00", "2026-03-29T17:00:00Z" },
            { "the search is strictly after", on(sunday, 19, 0), "2026-03-22T19:00", nullptr,
                "2026-03-29T17:00:00Z" },
            { "a second before", on(sunday, 19, 0), "2026-03-22T18:59:59", nullptr, "2026-03-22T18:00:00Z" },
            { "a skipped time moves to the end of the jump", on(sunday, 2, 30), "2026-03-23T10:00", nullptr,
                "2026-03-29T01:00:00Z" },
            { "a skipped time, then a week on", on(sunday, 2, 30), "2026-03-23T10:00", "2026-03-24T08:00",
                "2026-04-05T01:00:00Z" },
            { "a repeated time is taken the first time", on(sunday, 2, 30), "2026-10-19T10:00", nullptr,
                "2026-10-25T00:30:00Z" },
            { "and not again at its second occurrence", on(sunday, 2, 30), "2026-10-25T02:30", nullptr,
                "2026-11-01T01:30:00Z" },
            { "a week on into winter time", on(sunday, 19, 0), "2026-10-19T10:00", "2026-10-20T20:00",
                "2026-11-01T18:00:00Z" },
            { "later the same day", on(monday, 8, 0), "2026-03-23T07:00", "2026-03-22T20:00",
                "2026-03-23T07:00:00Z" },
            { "off", CheckinReminderSettings(false, 1, 19, 0), "2026-03-23T10:00", nullptr, nullptr },
        });
}

TEST(CheckinReminderPolicy, InAZoneWithoutDaylightSaving)
{
    check(QTimeZone("Asia/Tokyo"),
        {
            { "next Sunday", on(sunday, 19, 0), "2026-03-23T10:00", nullptr, "2026-03-29T10:00:00Z" },
            { "check-in that Monday", on(sunday, 19, 0), "2026-03-23T10:00", "2026-03-23T09:00",
                "2026-04-05T10:00:00Z" },
            { "check-in the week before", on(sunday, 19, 0), "2026-03-23T10:00", "2026-03-17T12:00",
                "2026-03-29T10:00:00Z" },
            { "02:30 exists every day", on(sunday, 2, 30), "2026-03-23T10:00", nullptr,
                "2026-03-28T17:30:00Z" },
        });
    check(QTimeZone(-3 * 3600),
        {
            { "fixed offset", on(sunday, 19, 0), "2026-03-23T10:00", "2026-03-23T09:00",
                "2026-04-05T22:00:00Z" },
        });
    check(QTimeZone::utc(),
        {
            { "UTC, year end", on(friday, 23, 59), "2026-12-31T23:59", "2026-12-28T00:00",
                "2027-01-08T23:59:00Z" },
        });
}

TEST(CheckinReminderPolicy, WeeksAreJudgedInTheCalendarPassedIn)
{
    const QTimeZone berlin("Europe/Berlin");
    // Sunday 23:30 UTC is already Monday in Berlin: the same week as the coming Sunday there.
    const auto next = CheckinReminderPolicy::nextReminder(
        utc("2026-03-23T10:00:00Z"), on(sunday, 19, 0), utc("2026-03-22T23:30:00Z"), berlin);
    EXPECT_EQ(next, utc("2026-04-05T17:00:00Z"));
    const auto inUtc = CheckinReminderPolicy::nextReminder(
        utc("2026-03-23T10:00:00Z"), on(sunday, 19, 0), utc("2026-03-22T23:30:00Z"), QTimeZone::utc());
    EXPECT_EQ(inUtc, utc("2026-03-29T19:00:00Z"));
}

TEST(CheckinReminderPolicy, ASkippedDayMovesToTheNextOneThatExists)
{
    // Samoa skipped Friday 2011-12-30 entirely when it crossed the date line.
    const QTimeZone apia("Pacific/Apia");
    ASSERT_TRUE(apia.isValid());
    const auto next = CheckinReminderPolicy::nextReminder(
        local(apia, "2011-12-28T10:00"), on(friday, 10, 0), std::nullopt, apia);
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(next->toTimeZone(apia).toString(Qt::ISODate), "2011-12-31T00:00:00+14:00");
}

TEST(CheckinReminderPolicy, UnusableArgumentsGiveNoReminder)
{
    const QTimeZone berlin("Europe/Berlin");
    const QDateTime after = local(berlin, "2026-03-23T10:00");
    // Hand-edited settings are read unclamped and must not produce a reminder.
    for (const std::array<qint64, 3>& time :
        std::initializer_list<std::array<qint64, 3>> { { 0, 19, 0 }, { 8, 19, 0 }, { 1, 24, 0 }, { 1, -1, 0 },
            { 1, 19, 60 }, { 1, 19, -1 }, { std::numeric_limits<qint64>::max(), 19, 0 } }) {
        CheckinReminderSettings settings = on(sunday, 19, 0);
        std::tie(settings.weekday, settings.hour, settings.minute) = std::tuple(time[0], time[1], time[2]);
        SCOPED_TRACE(QJsonDocument(settings.toJson()).toJson().toStdString());
        EXPECT_EQ(CheckinReminderPolicy::nextReminder(after, settings, std::nullopt, berlin), std::nullopt);
    }
    EXPECT_EQ(CheckinReminderPolicy::nextReminder(QDateTime(), on(sunday, 19, 0), std::nullopt, berlin),
        std::nullopt);
    EXPECT_EQ(
        CheckinReminderPolicy::nextReminder(after, on(sunday, 19, 0), std::nullopt, QTimeZone("No/Zone")),
        std::nullopt);
    // A last check-in that is not a date is simply not in the candidate's week.
    EXPECT_EQ(CheckinReminderPolicy::nextReminder(after, on(sunday, 19, 0), QDateTime(), berlin),
        utc("2026-03-29T17:00:00Z"));
}
