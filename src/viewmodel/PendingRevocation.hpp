#pragma once

#include "providers/ControlPlaneFailure.hpp"

#include <QString>
#include <QUuid>
#include <expected>
#include <optional>

class QSettings;

namespace lumora {

// The device that was signed out while its revocation was not proven. It is kept in the
// preferences until the control plane proves the device revoked: while it is there, no launch
// reconnects or recovers that device, and each launch and each press of Sign in sends the
// revocation again. A browser sign-in of this computer ends it, as the person has signed in anew.
struct PendingRevocation {
    // "lumora.pendingRevocation", the device ID as lower-case text.
    static QString preferenceKey();
    [[nodiscard]] static std::optional<QUuid> stored(const QSettings& preferences);
    // Writes (or, with nullopt, removes) the mark and syncs; false when the preferences could
    // not be written.
    [[nodiscard]] static bool store(QSettings& preferences, const std::optional<QUuid>& device);
    // Whether an answer to the device's revocation of itself proves it revoked: success, or the
    // control plane refusing it as revoked, which it says only once the request's signature held.
    // Nothing else does: not a gateway's error or a lost answer, not a refusal of the request's
    // time, signature or nonce, and not "unknown_device", which the control plane says before any
    // signature check of a device its database does not hold, as one that never knew the device
    // would (another control plane behind the address).
    [[nodiscard]] static bool provesRevoked(const std::expected<void, ControlPlaneFailure>& reply);
};

} // namespace lumora
