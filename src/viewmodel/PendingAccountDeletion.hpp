#pragma once

#include "providers/ControlPlaneFailure.hpp"

#include <QString>
#include <chrono>
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
        // Still there, and no request has deleted it: the control plane refused the deletion.
        kept,
        // The request never left this computer.
        unsent,
        // The account may or may not be gone: the answer was lost, or proves nothing.
        unknown,
    };

    // Whether the request answered is the deletion's first, sent on a connection of its own, or
    // one asked again after a request that may have reached the control plane (an earlier run's).
    enum class Attempt { first, again };

    // "lumora.pendingAccountDeletion": "requested" or "answered".
    static QString preferenceKey();
    [[nodiscard]] static std::optional<Stage> stored(const QSettings& preferences);
    // Writes (or, with nullopt, removes) the stage and syncs; false when the preferences could
    // not be written.
    [[nodiscard]] static bool store(QSettings& preferences, std::optional<Stage> stage);
    // Only proof settles a deletion: success, or the control plane no longer knowing the device,
    // means gone; a refusal that shows the request was not acted on, when no earlier request may
    // have been, means kept; a request that never went out is unsent; everything else (a server
    // error or a gateway's, a time-out or a rate limit, a refusal of the signature, its time or
    // its nonce, a connection lost once the request was out) proves nothing.
    [[nodiscard]] static Answer answerTo(
        const std::expected<void, ControlPlaneFailure>& reply, Attempt attempt);
    // The pause before the deletion is asked again after `unanswered` asks that proved nothing:
    // `first`, doubling with each, and at most 32 times `first`.
    [[nodiscard]] static std::chrono::milliseconds retryDelay(
        int unanswered, std::chrono::milliseconds first);
};

} // namespace lumora
