#include "domain/PendingConversationDeletion.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/UnixSeconds.hpp"

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
    // Moments, read within the years the records can write, however large the number.
    deletion.requestedAt = reader.boundedInteger(u"requested_at", 0, latestWritableSeconds);
    deletion.expiresAt = reader.boundedInteger(u"expires_at", 0, latestWritableSeconds);
    return finish(reader, deletion);
}

} // namespace lumora
