#pragma once

#include "domain/CheckinReminderSettings.hpp"

#include <QDateTime>
#include <QTimeZone>
#include <optional>

namespace lumora {

// When the weekly check-in reminder is next due.
struct CheckinReminderPolicy {
    // The first moment strictly after `after` that falls on the settings' weekday, hour and
    // minute in `calendar`'s zone, moved on by seven days when the last check-in lies in the
    // same ISO week as that moment. A wall-clock time that a daylight-saving jump skips
    // becomes the first time after the jump; one that occurs twice is taken the first time.
    // Nothing when the reminder is off or the settings do not name a real time of the week.
    static std::optional<QDateTime> nextReminder(const QDateTime& after,
        const CheckinReminderSettings& settings, const std::optional<QDateTime>& lastCheckin,
        const QTimeZone& calendar);
};

} // namespace lumora
