#include "domain/PairingState.hpp"

#include "domain/JsonNestedRecord.hpp"

#include <QtNumeric>
#include <limits>

namespace lumora {

qint64 PairingState::conversationsInPreviousWorkspaces() const
{
    constexpr qint64 most = std::numeric_limits<qint64>::max();
    constexpr qint64 least = std::numeric_limits<qint64>::min();
    qint64 total = 0;
    for (const PairingPreviousWorkspace& previous : previousWorkspaces) {
        if (qAddOverflow(total, previous.conversationCount, &total))
            total = previous.conversationCount > 0 ? most : least;
    }
    return total;
}

std::expected<PairingState, JsonDecodeError> PairingState::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("PairingState"));
    PairingState state;
    state.workspace = readRecord<PairingWorkspace>(reader, u"workspace");
    state.pendingInvite = readOptionalRecord<PairingPendingInvite>(reader, u"pending_invite");
    state.pendingConfirmation
        = readOptionalRecord<PairingPendingConfirmation>(reader, u"pending_confirmation");
    state.previousWorkspaces = reader.list<PairingPreviousWorkspace>(u"previous_workspaces");
    return finish(reader, std::move(state));
}

} // namespace lumora
