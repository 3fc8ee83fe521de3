#include "domain/PendingConversationDeletion.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

QJsonObject PendingConversationDeletion::toJson() const
{
    return { { QStringLiteral("requested_by_me"), requestedByMe },
        { QStringLiteral("requested_at"), requestedAt }, { QStringLiteral("expires_at"), expiresAt } };
}

std::expected<PendingConversationDeletion, JsonDecodeError> PendingConversationDeletion::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("PendingConversationDeletion"));
    PendingConversationDeletion deletion;
    deletion.requestedByMe = reader.boolean(u"requested_by_me");
    deletion.requestedAt = reader.integer(u"requested_at");
    deletion.expiresAt = reader.integer(u"expires_at");
    return finish(reader, deletion);
}

} // namespace lumora
