#include "persistence/StoredDocument.hpp"

#include <limits>

namespace lumora::storeddocument {

QString formatVersionKey()
{
    return QStringLiteral("formatVersion");
}

int formatVersion(const QJsonObject& document)
{
    const QJsonValue value = document.value(formatVersionKey());
    // A version that is no whole number was not written by any version of this application;
    // it counts as newer than every one, so such a file is never overwritten.
    if (value.isUndefined() || value.isNull())
        return 1;
    const double number = value.toDouble(-1);
    if (number < 1 || number != double(qint64(number)))
        return std::numeric_limits<int>::max();
    return number > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : int(number);
}

QJsonObject unknownMembers(const QJsonObject& read, const QJsonObject& known)
{
    QJsonObject unknown;
    for (auto member = read.begin(); member != read.end(); ++member) {
        if (member.key() != formatVersionKey() && !known.contains(member.key()))
            unknown.insert(member.key(), member.value());
    }
    return unknown;
}

void keepMembers(QJsonObject& document, const QJsonObject& kept)
{
    for (auto member = kept.begin(); member != kept.end(); ++member) {
        if (!document.contains(member.key()))
            document.insert(member.key(), member.value());
    }
}

} // namespace lumora::storeddocument
