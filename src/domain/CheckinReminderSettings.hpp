#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <expected>

namespace lumora {

// The user's choice of one weekly check-in reminder, in local time. Stored as JSON in the
// preferences; values read back are taken as they stand (only the constructor clamps).
struct CheckinReminderSettings {
    bool isOn = false;
    // 1 = Sunday, 2 = Monday ... 7 = Saturday.
    qint64 weekday = 1;
    qint64 hour = 19;
    qint64 minute = 0;

    // Off, Sunday at 19:00.
    static CheckinReminderSettings standard() { return {}; }

    CheckinReminderSettings() = default;
    // Clamps weekday to 1 ... 7, hour to 0 ... 23 and minute to 0 ... 59.
    CheckinReminderSettings(bool isOn, qint64 weekday, qint64 hour, qint64 minute);

    // Whether weekday, hour and minute name a real time of the week; a hand-edited
    // preference may hold values that do not.
    bool isInRange() const;

    bool operator==(const CheckinReminderSettings&) const = default;

    QJsonObject toJson() const;
    // All four keys are required.
    [[nodiscard]] static std::expected<CheckinReminderSettings, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
