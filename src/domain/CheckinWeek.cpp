#include "domain/CheckinWeek.hpp"

#include <QDate>
#include <algorithm>

namespace lumora {

namespace {

// A decimal integer as a key carries it: an optional sign, then ASCII digits only.
std::optional<qint64> parseDecimal(QStringView text)
{
    const QStringView digits = text.startsWith(u'+') || text.startsWith(u'-') ? text.sliced(1) : text;
    if (digits.isEmpty() || !std::ranges::all_of(digits, [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

struct KeyParts {
    std::optional<qint64> year; // nothing when the year text is empty or does not read
    qint64 week = 0;
};

// Splits at every upper-case "W", dropping empty pieces: exactly two must remain, the second a
// number; the first, less its last character (the "-" before "W"), is the year.
std::optional<KeyParts> splitKey(QStringView key)
{
    const auto pieces = key.split(u'W', Qt::SkipEmptyParts);
    if (pieces.size() != 2)
        return std::nullopt;
    const auto week = parseDecimal(pieces[1]);
    if (!week)
        return std::nullopt;
    return KeyParts { parseDecimal(pieces[0].chopped(1)), *week };
}

QDate mondayOfFirstWeek(int year)
{
    const QDate fourth(year, 1, 4);
    return fourth.addDays(1 - fourth.dayOfWeek());
}

} // namespace

QTimeZone CheckinWeek::packCalendar()
{
    return QTimeZone::utc();
}

QTimeZone CheckinWeek::localCalendar()
{
    return QTimeZone::systemTimeZone();
}

QString CheckinWeek::key(const QDateTime& date, const QTimeZone& calendar)
{
    int year = 0;
    int week = 0;
    if (date.isValid() && calendar.isValid())
        week = date.toTimeZone(calendar).date().weekNumber(&year);
    if (week == 0)
        year = 0;
    return QStringLiteral("%1-W%2").arg(year).arg(week, 2, 10, QLatin1Char('0'));
}

qint64 CheckinWeek::index(QStringView key)
{
    const auto parts = splitKey(key);
    if (!parts)
        return 0;
    qint64 result = 0;
    if (__builtin_mul_overflow(parts->year.value_or(0), 53, &result)
        || __builtin_add_overflow(result, parts->week, &result))
        return 0;
    return result;
}

bool CheckinWeek::isSameWeek(const QDateTime& first, const QDateTime& second, const QTimeZone& calendar)
{
    return key(first, calendar) == key(second, calendar);
}

std::optional<QDateTime> CheckinWeek::start(QStringView key, const QTimeZone& calendar)
{
    const auto parts = splitKey(key);
    if (!parts || !parts->year || !calendar.isValid())
        return std::nullopt;
    const qint64 year = *parts->year;
    // The calendar has no year 0; beyond int range there are no dates at all.
    if (year == 0 || year != static_cast<int>(year))
        return std::nullopt;
    // 28 December always lies in the last week of its year.
    const int weeksInYear = QDate(static_cast<int>(year), 12, 28).weekNumber();
    const QDate first = mondayOfFirstWeek(static_cast<int>(year));
    if (!first.isValid() || parts->week < 1 || parts->week > weeksInYear)
        return std::nullopt;
    const QDateTime start = first.addDays((parts->week - 1) * 7).startOfDay(calendar);
    if (!start.isValid())
        return std::nullopt;
    return start;
}

} // namespace lumora
