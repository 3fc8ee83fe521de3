#include "domain/CheckinReminderSettings.hpp"

#include "domain/JsonObjectReader.hpp"

#include <algorithm>

namespace lumora {

CheckinReminderSettings::CheckinReminderSettings(bool isOn, qint64 weekday, qint64 hour, qint64 minute)
    : isOn(isOn)
    , weekday(std::clamp<qint64>(weekday, 1, 7))
    , hour(std::clamp<qint64>(hour, 0, 23))
    , minute(std::clamp<qint64>(minute, 0, 59))
{
}

bool CheckinReminderSettings::isInRange() const
{
    return weekday >= 1 && weekday <= 7 && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
}

QJsonObject CheckinReminderSettings::toJson() const
{
    return { { QStringLiteral("isOn"), isOn }, { QStringLiteral("weekday"), weekday },
        { QStringLiteral("hour"), hour }, { QStringLiteral("minute"), minute } };
}

std::expected<CheckinReminderSettings, JsonDecodeError> CheckinReminderSettings::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("CheckinReminderSettings"));
    CheckinReminderSettings settings;
    settings.isOn = reader.boolean(u"isOn");
    settings.weekday = reader.integer(u"weekday");
    settings.hour = reader.integer(u"hour");
    settings.minute = reader.integer(u"minute");
    return finish(reader, settings);
}

} // namespace lumora
