#include "domain/PairingPreviousWorkspace.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

std::expected<PairingPreviousWorkspace, JsonDecodeError> PairingPreviousWorkspace::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("PairingPreviousWorkspace"));
    PairingPreviousWorkspace workspace;
    workspace.workspaceID = reader.string(u"workspace_id");
    workspace.linkedAt = reader.integer(u"linked_at");
    workspace.unlinkedAt = reader.optionalInteger(u"unlinked_at");
    workspace.memberCount = reader.integer(u"member_count");
    workspace.conversationCount = reader.integer(u"conversation_count");
    return finish(reader, std::move(workspace));
}

} // namespace lumora
