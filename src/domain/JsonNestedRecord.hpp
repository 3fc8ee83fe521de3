#pragma once

#include "domain/JsonObjectReader.hpp"

#include <optional>

namespace lumora {

// Reads the record under `key` with `T::fromJson`; a missing key, null or a record that
// fails its own decoding fails the reader, and a default value stands in.
template <typename T> T readNestedRecord(JsonObjectReader& reader, QStringView key)
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

// As `readNestedRecord`, but a missing key or null reads as absent.
template <typename T> std::optional<T> readOptionalNestedRecord(JsonObjectReader& reader, QStringView key)
{
    const QJsonValue value = reader.object().value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    return readNestedRecord<T>(reader, key);
}

} // namespace lumora
