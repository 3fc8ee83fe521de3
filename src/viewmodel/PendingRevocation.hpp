#pragma once

#include <QString>
#include <QUuid>
#include <optional>

class QSettings;

namespace lumora {

// The device that was signed out while its revocation had not reached the control plane. It is
// kept in the preferences until the control plane has revoked it: while it is there, no launch
// reconnects or recovers that device, and each launch delivers the revocation again.
struct PendingRevocation {
    // "lumora.pendingRevocation", the device ID as lower-case text.
    static QString preferenceKey();
    [[nodiscard]] static std::optional<QUuid> stored(const QSettings& preferences);
    // Writes (or, with nullopt, removes) the mark and syncs; false when the preferences could
    // not be written.
    [[nodiscard]] static bool store(QSettings& preferences, const std::optional<QUuid>& device);
};

} // namespace lumora
