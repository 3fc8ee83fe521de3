#pragma once

#include "domain/EnumText.hpp"
#include "domain/JsonDecodeError.hpp"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QUuid>
#include <expected>
#include <functional>
#include <optional>

namespace lumora {

// Reads the fields of one JSON object, remembering the first failure. Each accessor
// returns a neutral value once something failed, so a decoder reads all its fields in
// a row and then asks `error()` once: a record is either complete or not built at all.
//
// `required` accessors fail on a missing key, null or a wrong type; `optional` ones
// treat a missing key and null alike as absent, and still fail on a wrong type.
class JsonObjectReader {
public:
    JsonObjectReader(const QJsonValue& value, QString context);

    [[nodiscard]] bool failed() const { return m_error.has_value(); }
    [[nodiscard]] const std::optional<JsonDecodeError>& error() const { return m_error; }
    [[nodiscard]] const QJsonObject& object() const { return m_object; }
    [[nodiscard]] bool contains(QStringView key) const;

    QString string(QStringView key);
    double number(QStringView key);
    // A whole number that 64 bits hold; another number fails.
    qint64 integer(QStringView key);
    // A whole number of any size, brought within `minimum`...`maximum`: a count or a time that
    // another device wrote past what this application keeps is read as its bound, not refused.
    qint64 boundedInteger(QStringView key, qint64 minimum, qint64 maximum);
    bool boolean(QStringView key);
    QDateTime date(QStringView key);
    QUuid uuid(QStringView key);
    QJsonObject nestedObject(QStringView key);

    std::optional<QString> optionalString(QStringView key);
    std::optional<double> optionalNumber(QStringView key);
    std::optional<qint64> optionalInteger(QStringView key);
    std::optional<qint64> optionalBoundedInteger(QStringView key, qint64 minimum, qint64 maximum);
    std::optional<bool> optionalBoolean(QStringView key);
    std::optional<QDateTime> optionalDate(QStringView key);
    std::optional<QUuid> optionalUuid(QStringView key);
    // The same, with the nil id read as absent too: for an id that names something or nothing.
    std::optional<QUuid> optionalNonNilUuid(QStringView key);

    template <typename E> E enumeration(QStringView key)
    {
        const QString text = string(key);
        if (failed())
            return EnumTraits<E>::allCases[0];
        if (auto value = fromString<E>(text))
            return *value;
        fail(key, QStringLiteral("unknown value \"%1\"").arg(text));
        return EnumTraits<E>::allCases[0];
    }

    template <typename E> std::optional<E> optionalEnumeration(QStringView key)
    {
        if (!present(key))
            return std::nullopt;
        return enumeration<E>(key);
    }

    // A list of records, each read with `T::fromJson(const QJsonValue&)`.
    template <typename T> QList<T> list(QStringView key)
    {
        const QJsonArray items = array(key);
        return readList<T>(key, items, nullptr);
    }

    // A list of records in which an item that does not read is left out, with why in
    // `leftOut`, instead of failing the whole: one bad row of another device's list costs that
    // row only. A missing key or a value that is not an array still fails.
    template <typename T> QList<T> listLeavingOut(QStringView key, QList<JsonDecodeError>& leftOut)
    {
        const QJsonArray items = array(key);
        return readList<T>(key, items, &leftOut);
    }

    template <typename T> std::optional<QList<T>> optionalList(QStringView key)
    {
        if (!present(key))
            return std::nullopt;
        return list<T>(key);
    }

    // A nested record, read with `T::fromJson(const QJsonValue&)`.
    template <typename T> T record(QStringView key)
    {
        const QJsonObject nested = nestedObject(key);
        if (failed())
            return T {};
        auto value = T::fromJson(nested);
        if (!value) {
            fail(key, value.error().message);
            return T {};
        }
        return std::move(*value);
    }

    template <typename T> std::optional<T> optionalRecord(QStringView key)
    {
        if (!present(key))
            return std::nullopt;
        return record<T>(key);
    }

    QList<QString> stringList(QStringView key);
    std::optional<QList<QString>> optionalStringList(QStringView key);

    // Records the first failure; later ones are ignored.
    void fail(QStringView key, const QString& why);

private:
    QJsonValue required(QStringView key, QJsonValue::Type type);
    bool present(QStringView key) const;
    QJsonArray array(QStringView key);

    // Without `leftOut` the first item that does not read fails the list; with it, that item is
    // left out and why it was goes there.
    template <typename T>
    QList<T> readList(QStringView key, const QJsonArray& items, QList<JsonDecodeError>* leftOut)
    {
        QList<T> result;
        if (failed())
            return result;
        result.reserve(items.size());
        for (qsizetype i = 0; i < items.size(); ++i) {
            auto item = T::fromJson(items.at(i));
            if (item) {
                result.append(std::move(*item));
                continue;
            }
            const QString why = QStringLiteral("[%1]: %2").arg(i).arg(item.error().message);
            if (!leftOut) {
                fail(key, why);
                return {};
            }
            leftOut->append(failure(key, why));
        }
        return result;
    }
    // A failure of the key as `fail` words it.
    JsonDecodeError failure(QStringView key, const QString& why) const;

    QJsonObject m_object;
    QString m_context;
    std::optional<JsonDecodeError> m_error;
};

// Parses text that must hold one JSON object.
[[nodiscard]] std::expected<QJsonObject, JsonDecodeError> parseJsonObject(const QByteArray& bytes);

// Whether `test` holds for the value or any value inside it, the keys of its objects among them
// as strings.
[[nodiscard]] bool anyJsonValue(const QJsonValue& value, const std::function<bool(const QJsonValue&)>& test);

// Reads a record from JSON text with `T::fromJson`.
template <typename T> std::expected<T, JsonDecodeError> decodeJson(const QByteArray& bytes)
{
    auto object = parseJsonObject(bytes);
    if (!object)
        return std::unexpected(object.error());
    return T::fromJson(*object);
}

// Finishes a decoder: the record when every field was read, the first failure otherwise.
template <typename T> std::expected<T, JsonDecodeError> finish(const JsonObjectReader& reader, T value)
{
    if (reader.failed())
        return std::unexpected(*reader.error());
    return value;
}

} // namespace lumora
