#include "domain/PairingConfirmation.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

std::expected<PairingConfirmation, JsonDecodeError> PairingConfirmation::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("PairingConfirmation"));
    PairingConfirmation confirmation;
    confirmation.linkedAt = reader.optionalInteger(u"linked_at");
    confirmation.memberCount = reader.integer(u"member_count");
    return finish(reader, std::move(confirmation));
}

} // namespace lumora
