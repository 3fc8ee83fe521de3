#pragma once

#include "providers/ControlPlaneFailure.hpp"

#include <QString>
#include <expected>
#include <optional>

class QSettings;

namespace lumora {

// An account deletion whose part on this computer is not done yet. It is written to the
// preferences before the deletion is sent and stays until the control plane has said what became
// of the account and this computer's part has run, so that a run ended in between (a kill, a
// power cut, a lost answer) leaves it to a later launch, which finishes the deletion before
// anything of the account is shown.
struct PendingAccountDeletion {
    enum class Stage {
        // Sent; the account's answer is not known.
        requested,
        // The account is gone; this computer's part remains.
        answered,
    };

    // What an answer to the deletion says became of the account.
    enum class Answer {
        // Deleted, by this request or an earlier one: the control plane no longer knows the device.
        gone,
        // Still there: the control plane knew the device and refused the deletion.
        kept,
        // The request never left this computer.
        unsent,
        // Sent, and its answer lost: the account may or may not be gone.
        unknown,
    };

    // "lumora.pendingAccountDeletion": "requested" or "answered".
    static QString preferenceKey();
    [[nodiscard]] static std::optional<Stage> stored(const QSettings& preferences);
    // Writes (or, with nullopt, removes) the stage and syncs; false when the preferences could
    // not be written.
    [[nodiscard]] static bool store(QSettings& preferences, std::optional<Stage> stage);
    [[nodiscard]] static Answer answerTo(const std::expected<void, ControlPlaneFailure>& reply);
};

} // namespace lumora
