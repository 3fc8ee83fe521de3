#include "domain/ConversationBackupRecord.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {

QJsonObject ConversationBackupRecord::toJson() const
{
    QJsonObject json { { "localID", uuidText(localID, UuidCase::upper) },
        { "conversationID", uuidText(conversationID, UuidCase::upper) }, { "state", toString(state) },
        { "attempts", attempts } };
    if (lastAttemptAt)
        json.insert("lastAttemptAt", isoDateText(*lastAttemptAt));
    if (lastFailureCode)
        json.insert("lastFailureCode", *lastFailureCode);
    return json;
}

std::expected<ConversationBackupRecord, JsonDecodeError> ConversationBackupRecord::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ConversationBackupRecord"));
    ConversationBackupRecord record;
    record.localID = reader.uuid(u"localID");
    record.conversationID = reader.uuid(u"conversationID");
    record.state = reader.enumeration<ConversationBackupState>(u"state");
    record.attempts = reader.integer(u"attempts");
    record.lastAttemptAt = reader.optionalDate(u"lastAttemptAt");
    record.lastFailureCode = reader.optionalString(u"lastFailureCode");
    return finish(reader, std::move(record));
}

} // namespace lumora
