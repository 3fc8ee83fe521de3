#pragma once

#include <QJsonArray>
#include <QJsonObject>

namespace lumora::test {

// Sets `key` of the first element of the list `list` in the part `part` of a document.
inline void setInFirst(
    QJsonObject& document, const char* part, const char* list, const char* key, const QJsonValue& value)
{
    QJsonObject inner = document.value(part).toObject();
    QJsonArray items = inner.value(list).toArray();
    QJsonObject item = items.at(0).toObject();
    item.insert(key, value);
    items.replace(0, item);
    inner.insert(list, items);
    document.insert(part, inner);
}

} // namespace lumora::test
