#include "domain/PairingRedemption.hpp"

#include "domain/JsonNestedRecord.hpp"

namespace lumora {

std::expected<PairingRedemption, JsonDecodeError> PairingRedemption::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("PairingRedemption"));
    PairingRedemption redemption;
    redemption.inviteID = reader.uuid(u"invite_id");
    redemption.confirmExpiresAt = reader.integer(u"confirm_expires_at");
    redemption.history = readRecord<PairingHistorySummary>(reader, u"history");
    return finish(reader, std::move(redemption));
}

} // namespace lumora
