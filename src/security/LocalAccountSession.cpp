#include "security/LocalAccountSession.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {

QJsonObject LocalAccountSession::toJson() const
{
    return { { QStringLiteral("accountID"), uuidText(accountID, UuidCase::upper) },
        { QStringLiteral("deviceID"), uuidText(deviceID, UuidCase::upper) } };
}

std::expected<LocalAccountSession, JsonDecodeError> LocalAccountSession::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("LocalAccountSession"));
    LocalAccountSession session;
    session.accountID = reader.uuid(u"accountID");
    session.deviceID = reader.uuid(u"deviceID");
    return finish(reader, session);
}

} // namespace lumora
