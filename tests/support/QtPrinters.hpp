#pragma once

// Readable GoogleTest output for Qt values and std::expected: without these a failing
// comparison shows their raw bytes. Every test source gets this header (see CMakeLists.txt),
// so that all of them print a value the same way.

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSize>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <expected>
#include <gtest/gtest-printers.h>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    static constexpr char hex[] = "0123456789abcdef";
    *out << '"';
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\')
            *out << c;
        else
            *out << "\\x" << hex[byte >> 4] << hex[byte & 0xf];
    }
    *out << '"';
}

inline void PrintTo(const QUuid& id, std::ostream* out)
{
    *out << id.toString(QUuid::WithoutBraces).toStdString();
}

inline void PrintTo(const QDateTime& time, std::ostream* out)
{
    *out << (time.isValid() ? time.toString(Qt::ISODateWithMs).toStdString() : std::string("(invalid time)"));
}

inline void PrintTo(const QSize& size, std::ostream* out)
{
    *out << size.width() << 'x' << size.height();
}

inline void PrintTo(const QUrl& url, std::ostream* out)
{
    *out << url.toString().toStdString();
}

inline void PrintTo(const QJsonObject& object, std::ostream* out)
{
    *out << QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

inline void PrintTo(const QJsonArray& array, std::ostream* out)
{
    *out << QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString();
}

inline void PrintTo(const QJsonValue& value, std::ostream* out)
{
    if (value.isObject())
        PrintTo(value.toObject(), out);
    else if (value.isArray())
        PrintTo(value.toArray(), out);
    else if (value.isString())
        PrintTo(value.toString(), out);
    else if (value.isUndefined())
        *out << "(undefined)";
    else // null, bool and number as JSON writes them, inside a one-element array
        *out << QJsonDocument(QJsonArray { value })
                    .toJson(QJsonDocument::Compact)
                    .mid(1)
                    .chopped(1)
                    .toStdString();
}

// Only namespace std is sure to be searched for a std::expected, whatever its value and error.
namespace std {
template <typename T, typename E> void PrintTo(const expected<T, E>& result, ostream* out)
{
    if (!result)
        *out << "error " << ::testing::PrintToString(result.error());
    else if constexpr (is_void_v<T>)
        *out << "success";
    else
        *out << "value " << ::testing::PrintToString(*result);
}
} // namespace std
