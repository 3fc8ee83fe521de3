#pragma once

#include "domain/JsonObjectReader.hpp"

#include <optional>

namespace lumora {

// A record held in one field of the object being read, decoded with `T::fromJson`. A failure
// inside the nested record becomes the reader's failure, named after the field.
template <typename T> T readRecord(JsonObjectReader& reader, QStringView key)
{
    const QJsonObject object = reader.nestedObject(key);
    if (reader.failed())
        return T {};
    auto record = T::fromJson(object);
    if (!record) {
        reader.fail(key, record.error().message);
        return T {};
    }
    return std::move(*record);
}

// As `readRecord`, with a missing key and null both read as no record.
template <typename T> std::optional<T> readOptionalRecord(JsonObjectReader& reader, QStringView key)
{
    const QJsonValue value = reader.object().value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    return readRecord<T>(reader, key);
}

} // namespace lumora
