#include "domain/PairingPendingInvite.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

std::expected<PairingPendingInvite, JsonDecodeError> PairingPendingInvite::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("PairingPendingInvite"));
    PairingPendingInvite invite;
    invite.inviteID = reader.uuid(u"invite_id");
    invite.status = reader.string(u"status");
    invite.expiresAt = reader.integer(u"expires_at");
    invite.confirmExpiresAt = reader.optionalInteger(u"confirm_expires_at");
    return finish(reader, std::move(invite));
}

} // namespace lumora
