#include "DisplayFormats.hpp"

#include "DateTexts.hpp"

#include <QTimeZone>
#include <cmath>
#include <ctime>
#include <gtest/gtest.h>
#include <limits>

namespace lumora {
namespace {

// 2026-02-09 19:30:00 UTC, a Monday; 2026-03-01 08:05:00 UTC.
constexpr qint64 february9 = 1770665400;
constexpr qint64 march1 = 1772352300;

const QLocale english(QLocale::English, QLocale::UnitedStates);

// The machine's zone for the life of one case, as a user's TZ would set it.
class MachineZone {
public:
    explicit MachineZone(const char* zone)
        : m_previous(qgetenv("TZ"))
        , m_hadZone(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~MachineZone()
    {
        if (m_hadZone)
            qputenv("TZ", m_previous);
        else
            qunsetenv("TZ");
        tzset();
    }
    MachineZone(const MachineZone&) = delete;
    MachineZone& operator=(const MachineZone&) = delete;

private:
    QByteArray m_previous;
    bool m_hadZone;
};

TEST(DisplayFormats, ClockShowsWholeMinutesAndSecondsOfAnyValue)
{
    constexpr double infinity = std::numeric_limits<double>::infinity();
    const struct {
        double seconds;
        const char* text;
    } cases[] {
        { 59.9, "0:59" },
        { 61, "1:01" },
        { 3600, "60:00" },
        { 3725, "62:05" },
        { 0.999, "0:00" },
        { 0, "0:00" },
        { -3, "0:00" },
        { -0.5, "0:00" },
        { std::nan(""), "0:00" },
        { infinity, "0:00" },
        { -infinity, "0:00" },
        // Beyond whole seconds a double holds: clamped to the largest it holds exactly.
        { 1e300, "150119987579016:31" },
        { std::numeric_limits<double>::max(), "150119987579016:31" },
        { 9223372036854775808.0, "150119987579016:31" },
    };
    for (const auto& row : cases)
        EXPECT_EQ(DisplayFormats::clock(row.seconds), QString::fromLatin1(row.text)) << row.seconds;
}

TEST(DisplayFormats, RowIdentityIsTheFirstPiecesTurnIndex)
{
    EXPECT_EQ(DisplayFormats::rowID(ConversationTurn()), -1);
    const ConversationTurn turn(1, 4, 9, 5,
        { ConversationTurnPiece(7, 1, "So", 4, 5, false), ConversationTurnPiece(3, 0, "mm", 5, 6, true) });
    EXPECT_EQ(DisplayFormats::rowID(turn), 7);
}

TEST(DisplayFormats, WeekLabelNamesTheSameMondayInEveryZone)
{
    const struct {
        const char* week;
        std::optional<QString> label;
    } cases[] {
        { "2026-W07", u"Week of Feb 9"_qs },
        { "2026-W01", u"Week of Dec 29"_qs },
        { "2020-W53", u"Week of Dec 28"_qs },
        { "2025-W53", std::nullopt },
        { "2026-W00", std::nullopt },
        { "2026-07", std::nullopt },
        { "", std::nullopt },
    };
    for (const char* zone : { "America/Los_Angeles", "UTC", "Asia/Tokyo" }) {
        const MachineZone machine(zone);
        for (const auto& row : cases) {
            EXPECT_EQ(DisplayFormats::weekLabel(QString::fromLatin1(row.week), english), row.label)
                << zone << ' ' << row.week;
        }
        // The user's own locale and zone give the same day.
        EXPECT_TRUE(DisplayFormats::weekLabel(u"2026-W07").value_or(QString()).endsWith(u" 9")) << zone;
    }
}

TEST(DateTexts, DatesAndTimesInTheGivenLocaleAndZone)
{
    const DateTexts texts(english, QTimeZone::utc());
    EXPECT_EQ(texts.date(february9), "Feb 9, 2026");
    EXPECT_EQ(texts.time(february9), "7:30 PM");
    EXPECT_EQ(DateTexts(QLocale::c(), QTimeZone::utc()).time(february9), "19:30") << "no seconds";
    EXPECT_EQ(DateTexts(QLocale(QLocale::German), QTimeZone::utc()).time(february9), "19:30");
    EXPECT_EQ(texts.dateAndTime(march1), "Mar 1, 2026 at 8:05 AM");
    // Late on the 9th in UTC is already the 10th further east, whatever the machine's zone.
    const MachineZone machine("America/Los_Angeles");
    const DateTexts tokyo(english, QTimeZone("Asia/Tokyo"));
    EXPECT_EQ(tokyo.date(february9), "Feb 10, 2026");
    EXPECT_EQ(tokyo.dateAndTime(QDateTime::fromSecsSinceEpoch(february9, QTimeZone::utc())),
        "Feb 10, 2026 at 4:30 AM");
    // Each locale's own medium date: its order, its month names, no weekday.
    for (const auto& [locale, date] : { std::pair { "en_GB", u"9 Feb 2026"_qs },
             std::pair { "de_DE", u"9. Feb. 2026"_qs }, std::pair { "fr_FR", u"9 f\u00e9vr. 2026"_qs },
             std::pair { "ja_JP", u"2026\u5e742\u67089\u65e5"_qs },
             std::pair { "es_ES", u"9 de feb de 2026"_qs } })
        EXPECT_EQ(DateTexts(QLocale(QString::fromLatin1(locale)), QTimeZone::utc()).date(february9), date)
            << locale;
}

} // namespace
} // namespace lumora
