#include "domain/PairingPendingConfirmation.hpp"

#include "domain/JsonNestedRecord.hpp"

namespace lumora {

std::expected<PairingPendingConfirmation, JsonDecodeError> PairingPendingConfirmation::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("PairingPendingConfirmation"));
    PairingPendingConfirmation pending;
    pending.inviteID = reader.uuid(u"invite_id");
    pending.confirmExpiresAt = reader.integer(u"confirm_expires_at");
    pending.history = readRecord<PairingHistorySummary>(reader, u"history");
    return finish(reader, std::move(pending));
}

} // namespace lumora
