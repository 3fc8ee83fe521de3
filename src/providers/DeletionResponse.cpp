#include "providers/DeletionResponse.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

std::expected<DeletionResponse, JsonDecodeError> DeletionResponse::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("DeletionResponse"));
    DeletionResponse response;
    response.status = reader.optionalString(u"status");
    response.requestedByMe = reader.optionalBoolean(u"requested_by_me");
    response.requestedAt = reader.optionalInteger(u"requested_at");
    response.expiresAt = reader.optionalInteger(u"expires_at");
    return finish(reader, std::move(response));
}

ConversationDeletionOutcome DeletionResponse::outcome() const
{
    if (!status || *status != QStringLiteral("pending_approval"))
        return ConversationDeletionOutcome::deleted();
    return ConversationDeletionOutcome::awaitingPartner(PendingConversationDeletion {
        requestedByMe.value_or(true), requestedAt.value_or(0), expiresAt.value_or(0) });
}

} // namespace lumora
