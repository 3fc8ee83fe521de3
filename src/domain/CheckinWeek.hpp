#pragma once

#include <QDateTime>
#include <QTimeZone>
#include <optional>

namespace lumora {

// ISO-8601 weeks (Monday first; week 1 holds at least four days of its year), named by keys
// such as "2026-W07". The calendar is the time zone in which a moment is placed on a day;
// the week rules themselves are always ISO-8601.
struct CheckinWeek {
    // UTC: keys the built-in pack, so two machines in one UTC week get the same pack.
    static QTimeZone packCalendar();
    // The machine's own zone: the user's week, as the reminder rule sees it. The caller
    // asks for it and passes it on; no rule here reads it by itself.
    static QTimeZone localCalendar();

    // Week-based year (a minus sign when negative), "-W", then the week with at least two
    // digits. A date the calendar cannot place gives "0-W00".
    static QString key(const QDateTime& date, const QTimeZone& calendar);
    // year × 53 + week, so later weeks have larger numbers; 0 for a key that does not read
    // or whose number would not fit.
    static qint64 index(QStringView key);
    static bool isSameWeek(const QDateTime& first, const QDateTime& second, const QTimeZone& calendar);
    // The start of the Monday of the keyed week in the calendar; nothing for a key that does
    // not read or names a week its year does not have.
    static std::optional<QDateTime> start(QStringView key, const QTimeZone& calendar);
};

} // namespace lumora
