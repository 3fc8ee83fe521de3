#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QList>
#include <QString>
#include <QUuid>

namespace lumora {

// ISO-8601 in UTC, whole seconds: "2026-12-06T21:37:45Z".
QString isoDateText(const QDateTime& date);

enum class UuidCase { lower, upper };

// The bare 36-character form. Identifiers the code writes into paths and request bodies
// are lower case; records encoded as a whole (sealed files, reports) use upper case.
QString uuidText(const QUuid& id, UuidCase letterCase);

// A JSON array of records, each written with its `toJson()`.
template <typename T> QJsonArray toJsonArray(const QList<T>& items)
{
    QJsonArray array;
    for (const T& item : items)
        array.append(item.toJson());
    return array;
}

} // namespace lumora
