#include "domain/JsonObjectReader.hpp"

#include "domain/UnixSeconds.hpp"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

QString typeName(QJsonValue::Type type)
{
    switch (type) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

// The whole number a JSON number stands for when 64 bits hold it exactly. The parser keeps
// an integer such as 9223372036854775807 as one, whose double would round to 2^63.
std::optional<qint64> exactInteger(const QJsonValue& value)
{
    const qint64 first = value.toInteger(0);
    if (first != value.toInteger(1))
        return std::nullopt;
    return first;
}

} // namespace

JsonObjectReader::JsonObjectReader(const QJsonValue& value, QString context)
    : m_context(std::move(context))
{
    if (value.isObject())
        m_object = value.toObject();
    else
        m_error = JsonDecodeError {
            QStringLiteral("%1: expected an object, found %2").arg(m_context, typeName(value.type()))
        };
}

bool JsonObjectReader::contains(QStringView key) const
{
    return m_object.contains(key);
}

void JsonObjectReader::fail(QStringView key, const QString& why)
{
    if (!m_error)
        m_error = failure(key, why);
}

JsonDecodeError JsonObjectReader::failure(QStringView key, const QString& why) const
{
    return JsonDecodeError { QStringLiteral("%1.%2: %3").arg(m_context, key.toString(), why) };
}

bool JsonObjectReader::present(QStringView key) const
{
    const QJsonValue value = m_object.value(key);
    return !value.isUndefined() && !value.isNull();
}

QJsonValue JsonObjectReader::required(QStringView key, QJsonValue::Type type)
{
    if (failed())
        return {};
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined()) {
        fail(key, QStringLiteral("missing"));
        return {};
    }
    if (value.type() != type) {
        fail(key, QStringLiteral("expected %1, found %2").arg(typeName(type), typeName(value.type())));
        return {};
    }
    return value;
}

QString JsonObjectReader::string(QStringView key)
{
    return required(key, QJsonValue::String).toString();
}

double JsonObjectReader::number(QStringView key)
{
    return required(key, QJsonValue::Double).toDouble();
}

qint64 JsonObjectReader::integer(QStringView key)
{
    const QJsonValue value = required(key, QJsonValue::Double);
    if (failed())
        return 0;
    if (const std::optional<qint64> exact = exactInteger(value))
        return *exact;
    fail(key, QStringLiteral("expected a whole number"));
    return 0;
}

qint64 JsonObjectReader::boundedInteger(QStringView key, qint64 minimum, qint64 maximum)
{
    const QJsonValue value = required(key, QJsonValue::Double);
    if (failed())
        return minimum;
    if (const std::optional<qint64> exact = exactInteger(value))
        return std::clamp(*exact, minimum, maximum);
    const double number = value.toDouble();
    if (std::trunc(number) != number) {
        fail(key, QStringLiteral("expected a whole number"));
        return minimum;
    }
    // Whole, but past what 64 bits hold: past the bound on its side too.
    return number < 0 ? minimum : maximum;
}

bool JsonObjectReader::boolean(QStringView key)
{
    return required(key, QJsonValue::Bool).toBool();
}

QDateTime JsonObjectReader::date(QStringView key)
{
    // Internet date-time text in whole seconds with its zone, as the records are written. A
    // fraction of a second, a missing zone or a moment that an offset moves out of the years
    // 0001 to 9999 is refused: what is read here can always be written again.
    static const QRegularExpression form(
        QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(Z|[+-][0-9]{2}:[0-9]{2})$"));
    const QString text = string(key);
    if (failed())
        return {};
    QDateTime date = form.match(text).hasMatch() ? QDateTime::fromString(text, Qt::ISODate) : QDateTime();
    if (!date.isValid() || !isWritableSeconds(date.toSecsSinceEpoch())) {
        fail(key, QStringLiteral("expected an ISO-8601 date in whole seconds, found \"%1\"").arg(text));
        return {};
    }
    return date;
}

QUuid JsonObjectReader::uuid(QStringView key)
{
    const QString text = string(key);
    if (failed())
        return {};
    // Only the bare 36-character form, in either case.
    const QUuid id = text.size() == 36 ? QUuid::fromString(text) : QUuid();
    if (id.isNull() && text != QStringLiteral("00000000-0000-0000-0000-000000000000")) {
        fail(key, QStringLiteral("expected a UUID, found \"%1\"").arg(text));
        return {};
    }
    return id;
}

QJsonObject JsonObjectReader::nestedObject(QStringView key)
{
    return required(key, QJsonValue::Object).toObject();
}

QJsonArray JsonObjectReader::array(QStringView key)
{
    return required(key, QJsonValue::Array).toArray();
}

std::optional<QString> JsonObjectReader::optionalString(QStringView key)
{
    if (!present(key))
        return std::nullopt;
    return string(key);
}

std::optional<double> JsonObjectReader::optionalNumber(QStringView key)
{
    if (!present(key))
        return std::nullopt;
    return number(key);
}

std::optional<qint64> JsonObjectReader::optionalInteger(QStringView key)
{
    if (!present(key))
        return std::nullopt;
    return integer(key);
}

std::optional<qint64> JsonObjectReader::optionalBoundedInteger(
    QStringView key, qint64 minimum, qint64 maximum)
{
    if (!present(key))
        return std::nullopt;
    return boundedInteger(key, minimum, maximum);
}

std::optional<bool> JsonObjectReader::optionalBoolean(QStringView key)
{
    if (!present(key))
        return std::nullopt;
    return boolean(key);
}

std::optional<QDateTime> JsonObjectReader::optionalDate(QStringView key)
{
    if (!present(key))
        return std::nullopt;
    return date(key);
}

std::optional<QUuid> JsonObjectReader::optionalUuid(QStringView key)
{
    if (!present(key))
        return std::nullopt;
    return uuid(key);
}

std::optional<QUuid> JsonObjectReader::optionalNonNilUuid(QStringView key)
{
    const std::optional<QUuid> id = optionalUuid(key);
    if (id && id->isNull())
        return std::nullopt;
    return id;
}

QList<QString> JsonObjectReader::stringList(QStringView key)
{
    const QJsonArray items = array(key);
    QList<QString> result;
    for (qsizetype i = 0; i < items.size() && !failed(); ++i) {
        if (!items.at(i).isString())
            fail(key, QStringLiteral("[%1]: expected a string").arg(i));
        else
            result.append(items.at(i).toString());
    }
    return failed() ? QList<QString> {} : result;
}

std::optional<QList<QString>> JsonObjectReader::optionalStringList(QStringView key)
{
    if (!present(key))
        return std::nullopt;
    return stringList(key);
}

std::expected<QJsonObject, JsonDecodeError> parseJsonObject(const QByteArray& bytes)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return std::unexpected(JsonDecodeError { QStringLiteral("not JSON: %1 at offset %2")
                                                     .arg(parseError.errorString())
                                                     .arg(parseError.offset) });
    if (!document.isObject())
        return std::unexpected(JsonDecodeError { QStringLiteral("expected a JSON object") });
    return document.object();
}

bool anyJsonValue(const QJsonValue& value, const std::function<bool(const QJsonValue&)>& test)
{
    if (test(value))
        return true;
    if (value.isArray()) {
        const QJsonArray items = value.toArray();
        return std::any_of(
            items.begin(), items.end(), [&](const QJsonValue& item) { return anyJsonValue(item, test); });
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto at = object.begin(); at != object.end(); ++at) {
            if (test(QJsonValue(at.key())) || anyJsonValue(at.value(), test))
                return true;
        }
    }
    return false;
}

} // namespace lumora
