#include "domain/ConversationBackupRecord.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {

QJsonObject ConversationBackupRecord::toJson() const
{
    QJsonObject json { { QStringLiteral("localID"), uuidText(localID, UuidCase::upper) },
        { QStringLiteral("conversationID"), uuidText(conversationID, UuidCase::upper) },
        { QStringLiteral("state"), toString(state) }, { QStringLiteral("attempts"), attempts } };
    if (lastAttemptAt)
        json.insert(QStringLiteral("lastAttemptAt"), isoDateText(*lastAttemptAt));
    if (lastFailureCode)
        json.insert(QStringLiteral("lastFailureCode"), *lastFailureCode);
    if (deletionRequested)
        json.insert(QStringLiteral("deletionRequested"), true);
    if (accountID)
        json.insert(QStringLiteral("accountID"), uuidText(*accountID, UuidCase::upper));
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
    record.deletionRequested = reader.optionalBoolean(u"deletionRequested").value_or(false);
    record.accountID = reader.optionalNonNilUuid(u"accountID");
    return finish(reader, std::move(record));
}

} // namespace lumora
