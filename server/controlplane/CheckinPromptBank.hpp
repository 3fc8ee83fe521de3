#pragma once

#include "domain/CheckinPack.hpp"

#include <QUuid>

namespace lumora {

// The control plane's own weekly check-in prompts, composed into one pack per workspace and
// week. Composition is a pure function of the workspace and the week, so the same week gives
// the same pack on every call (and after a restart) and both partners of a workspace see the
// same pack. Each section's pool turns by one entry a week, from a starting point drawn from
// the workspace, so consecutive weeks never repeat a prompt and workspaces differ.
struct CheckinPromptBank {
    // `weekStart` is the first moment of the week, seconds since 1970 in UTC; it is also
    // the pack's generation time. `week` is that week's key.
    static CheckinPack compose(const QUuid& workspace, const QString& week, qint64 weekStart);
};

} // namespace lumora
