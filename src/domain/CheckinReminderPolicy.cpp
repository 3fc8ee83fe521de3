#include "domain/CheckinReminderPolicy.hpp"

#include "domain/CheckinWeek.hpp"

#include <QList>

namespace lumora {

namespace {

constexpr qint64 secondsPerDay = 86400;

// A stretch of time from `from` (Unix seconds) on which the zone keeps one offset.
struct OffsetSpan {
    qint64 from;
    int offset;
};

// The moment a wall-clock time happens in a zone: its first occurrence when the clocks go back
// over it, the end of the jump when the clocks skip it.
std::optional<QDateTime> moment(QDate day, QTime time, const QTimeZone& zone)
{
    // The wall-clock time counted as if it were UTC; no offset moves a moment by more than a day
    // from it, so the offsets around it cover every moment that could show this time.
    const qint64 wallClock = QDateTime(day, time, QTimeZone::utc()).toSecsSinceEpoch();
    const qint64 windowStart = wallClock - 2 * secondsPerDay;
    const qint64 windowEnd = wallClock + 2 * secondsPerDay;

    QList<OffsetSpan> spans { { windowStart,
        zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(windowStart, zone)) } };
    const auto transitions
        = zone.transitions(QDateTime::fromSecsSinceEpoch(windowStart + 1, QTimeZone::utc()),
            QDateTime::fromSecsSinceEpoch(windowEnd, QTimeZone::utc()));
    for (const QTimeZone::OffsetData& transition : transitions)
        spans.append({ transition.atUtc.toSecsSinceEpoch(), transition.offsetFromUtc });

    for (qsizetype i = 0; i < spans.size(); ++i) {
        const qint64 candidate = wallClock - spans[i].offset;
        const qint64 end = i + 1 < spans.size() ? spans[i + 1].from : windowEnd;
        if (candidate >= spans[i].from && candidate < end)
            return QDateTime::fromSecsSinceEpoch(candidate, zone);
    }
    for (qsizetype i = 1; i < spans.size(); ++i) {
        const qint64 jumpStart = spans[i].from + spans[i - 1].offset;
        const qint64 jumpEnd = spans[i].from + spans[i].offset;
        if (jumpStart <= wallClock && wallClock < jumpEnd)
            return QDateTime::fromSecsSinceEpoch(spans[i].from, zone);
    }
    return std::nullopt;
}

// Qt counts weekdays from Monday = 1 to Sunday = 7; the settings from Sunday = 1.
int qtDayOfWeek(qint64 weekday)
{
    return weekday == 1 ? 7 : static_cast<int>(weekday - 1);
}

} // namespace

std::optional<QDateTime> CheckinReminderPolicy::nextReminder(const QDateTime& after,
    const CheckinReminderSettings& settings, const std::optional<QDateTime>& lastCheckin,
    const QTimeZone& calendar)
{
    if (!settings.isOn || !settings.isInRange() || !after.isValid() || !calendar.isValid())
        return std::nullopt;

    const int dayOfWeek = qtDayOfWeek(settings.weekday);
    const QTime time(static_cast<int>(settings.hour), static_cast<int>(settings.minute));
    const QDate today = after.toTimeZone(calendar).date();
    // Two weeks from the day before cover every match strictly after `after`, however the
    // zone's clocks jumped in between.
    std::optional<QDateTime> candidate;
    for (qint64 offset = -1; offset <= 14 && !candidate; ++offset) {
        const QDate day = today.addDays(offset);
        if (day.dayOfWeek() != dayOfWeek)
            continue;
        if (auto at = moment(day, time, calendar); at && *at > after)
            candidate = at;
    }
    if (!candidate)
        return std::nullopt;

    if (lastCheckin && CheckinWeek::key(*lastCheckin, calendar) == CheckinWeek::key(*candidate, calendar)) {
        // Seven calendar days: the same wall-clock time a week later, across any clock change.
        const QDateTime local = candidate->toTimeZone(calendar);
        return moment(local.date().addDays(7), local.time(), calendar);
    }
    return candidate;
}

} // namespace lumora
