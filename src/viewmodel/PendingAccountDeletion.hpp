#pragma once

#include <QString>
#include <optional>

class QSettings;

namespace lumora {

// An account deletion whose part on this computer is not done yet. It is written to the
// preferences before the deletion is sent and stays until this computer's part has run, so that
// a run ended in between (a kill, a power cut) leaves it to the next launch, which finishes the
// deletion before anything of the account is shown.
struct PendingAccountDeletion {
    enum class Stage {
        // Sent; the account's answer is not known.
        requested,
        // The account is gone; this computer's part remains.
        answered,
    };

    // "lumora.pendingAccountDeletion": "requested" or "answered".
    static QString preferenceKey();
    [[nodiscard]] static std::optional<Stage> stored(const QSettings& preferences);
    // Writes (or, with nullopt, removes) the stage and syncs; false when the preferences could
    // not be written.
    [[nodiscard]] static bool store(QSettings& preferences, std::optional<Stage> stage);
};

} // namespace lumora
