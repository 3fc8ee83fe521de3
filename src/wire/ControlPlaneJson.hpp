#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/JsonObjectReader.hpp"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringView>
#include <expected>
#include <optional>

namespace lumora {

// Request bodies: records write their field names as keys, and the encoder turns each
// key, at every depth, into snake case ("reservationID" -> "reservation_id").
class ControlPlaneEncoder {
public:
    // A new word begins at each upper-case letter after the first character; a run of
    // capitals is one word, except that its last capital starts the next word when a
    // lower-case letter follows; words are lower-cased and joined with "_".
    static QString snakeCaseKey(QStringView name);

    [[nodiscard]] QByteArray encode(const QJsonObject& fields) const;
};

// Replies: every key, at every depth, is turned into the field name it fills
// ("account_id" -> "accountID", "authorization_url" -> "authorizationURL"), then the
// record reads its field names.
class ControlPlaneDecoder {
public:
    // Split at "_" dropping empty pieces; the first piece stays as it is; each later piece
    // is "ID", "URL" or "MS" for exactly "id", "url" or "ms", else gets its first character
    // upper-cased. No piece at all gives the empty name.
    static QString fieldName(QStringView key);
    static QJsonValue convertKeys(const QJsonValue& value);

    template <typename T> std::expected<T, JsonDecodeError> decode(const QByteArray& bytes) const
    {
        auto object = parseJsonObject(bytes);
        if (!object)
            return std::unexpected(object.error());
        return T::fromJson(convertKeys(*object));
    }
};

ControlPlaneDecoder makeControlPlaneDecoder();

// A UUID field that may be absent or null; present, it must be UUID text.
std::optional<QUuid> optionalUuid(JsonObjectReader& reader, QStringView key);

} // namespace lumora
