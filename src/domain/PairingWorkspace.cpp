#include "domain/PairingWorkspace.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

std::expected<PairingWorkspace, JsonDecodeError> PairingWorkspace::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("PairingWorkspace"));
    PairingWorkspace workspace;
    workspace.workspaceID = reader.string(u"workspace_id");
    workspace.paired = reader.boolean(u"paired");
    workspace.memberCount = reader.integer(u"member_count");
    workspace.linkedAt = reader.optionalInteger(u"linked_at");
    workspace.partnerJoinedAt = reader.optionalInteger(u"partner_joined_at");
    return finish(reader, std::move(workspace));
}

} // namespace lumora
