#include "domain/PairingInvite.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

std::expected<PairingInvite, JsonDecodeError> PairingInvite::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("PairingInvite"));
    PairingInvite invite;
    invite.inviteID = reader.uuid(u"invite_id");
    invite.code = reader.string(u"code");
    invite.expiresAt = reader.integer(u"expires_at");
    return finish(reader, std::move(invite));
}

} // namespace lumora
