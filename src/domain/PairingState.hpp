#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/PairingPendingConfirmation.hpp"
#include "domain/PairingPendingInvite.hpp"
#include "domain/PairingPreviousWorkspace.hpp"
#include "domain/PairingWorkspace.hpp"

#include <QJsonValue>
#include <QList>
#include <expected>
#include <optional>

namespace lumora {

// The whole partner-link state of the account, as the control plane reports it.
struct PairingState {
    PairingWorkspace workspace;
    std::optional<PairingPendingInvite> pendingInvite;
    std::optional<PairingPendingConfirmation> pendingConfirmation;
    // In the order received.
    QList<PairingPreviousWorkspace> previousWorkspaces;

    bool operator==(const PairingState&) const = default;

    // Sum of the previous workspaces' conversation counts, held at the limits of a signed
    // 64-bit integer rather than wrapping around.
    qint64 conversationsInPreviousWorkspaces() const;

    // Reads "workspace", "pending_invite", "pending_confirmation" and "previous_workspaces";
    // the last one must be present, though it may be an empty array.
    [[nodiscard]] static std::expected<PairingState, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
