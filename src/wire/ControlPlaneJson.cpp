#include "wire/ControlPlaneJson.hpp"

#include <QJsonArray>
#include <QJsonDocument>

namespace lumora {

namespace {

QJsonValue mapKeys(const QJsonValue& value, QString (*rename)(QStringView))
{
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue& item : value.toArray())
            array.append(mapKeys(item, rename));
        return array;
    }
    if (!value.isObject())
        return value;
    QJsonObject renamed;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        renamed.insert(rename(it.key()), mapKeys(it.value(), rename));
    return renamed;
}

qsizetype indexOfCase(QStringView text, qsizetype from, bool upper)
{
    for (qsizetype i = from; i < text.size(); ++i) {
        if (upper ? text.at(i).isUpper() : text.at(i).isLower())
            return i;
    }
    return -1;
}

} // namespace

QString ControlPlaneEncoder::snakeCaseKey(QStringView name)
{
    if (name.isEmpty())
        return name.toString();
    QStringList words;
    qsizetype wordStart = 0;
    qsizetype searchFrom = 1;
    for (;;) {
        const qsizetype upper = indexOfCase(name, searchFrom, true);
        if (upper < 0)
            break;
        words.append(name.mid(wordStart, upper - wordStart).toString());
        const qsizetype lower = indexOfCase(name, upper, false);
        if (lower < 0) {
            wordStart = upper;
            break;
        }
        if (lower == upper + 1) {
            wordStart = upper;
        } else {
            // "URLSession": "URL" is one word and "S" begins the next.
            words.append(name.mid(upper, lower - 1 - upper).toString());
            wordStart = lower - 1;
        }
        searchFrom = lower + 1;
    }
    words.append(name.mid(wordStart).toString());
    for (QString& word : words)
        word = word.toLower();
    return words.join(u'_');
}

QByteArray ControlPlaneEncoder::encode(const QJsonObject& fields) const
{
    const QJsonValue converted = mapKeys(fields, [](QStringView key) { return snakeCaseKey(key); });
    return QJsonDocument(converted.toObject()).toJson(QJsonDocument::Compact);
}

QString ControlPlaneDecoder::fieldName(QStringView key)
{
    QString name;
    bool first = true;
    for (const QStringView piece : key.tokenize(u'_', Qt::SkipEmptyParts)) {
        if (first) {
            name += piece;
            first = false;
        } else if (piece == u"id") {
            name += u"ID";
        } else if (piece == u"url") {
            name += u"URL";
        } else if (piece == u"ms") {
            name += u"MS";
        } else {
            name += piece.first(1).toString().toUpper();
            name += piece.sliced(1);
        }
    }
    return name;
}

QJsonValue ControlPlaneDecoder::convertKeys(const QJsonValue& value)
{
    return mapKeys(value, [](QStringView key) { return fieldName(key); });
}

std::optional<QUuid> optionalUuid(JsonObjectReader& reader, QStringView key)
{
    if (!reader.optionalString(key))
        return std::nullopt;
    return reader.uuid(key);
}

ControlPlaneDecoder makeControlPlaneDecoder()
{
    return ControlPlaneDecoder {};
}

} // namespace lumora
