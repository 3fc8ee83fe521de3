#include "domain/JsonWriting.hpp"

namespace lumora {

QString isoDateText(const QDateTime& date)
{
    QDateTime utc = date.toUTC();
    utc.setTime(QTime(utc.time().hour(), utc.time().minute(), utc.time().second()));
    return utc.toString(Qt::ISODate);
}

QString uuidText(const QUuid& id, UuidCase letterCase)
{
    const QString text = id.toString(QUuid::WithoutBraces);
    return letterCase == UuidCase::upper ? text.toUpper() : text;
}

} // namespace lumora
