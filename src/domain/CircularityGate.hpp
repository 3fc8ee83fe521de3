#pragma once

#include <QtGlobal>
#include <optional>

namespace lumora {

// Debounces the repeated-cycle prompt: it fires only after the cycle has qualified for a
// few settled turns, and stays silent for a while after the partners dismiss it.
struct CircularityGate {
    // Settled-turn count at which the current run of qualifying updates began.
    std::optional<qint64> firstDetectedAtTurn;
    // Before this conversation time the gate never fires.
    double suppressedUntil = 0;

    bool operator==(const CircularityGate&) const = default;

    // Returns whether the prompt should show now.
    bool update(bool qualifying, double confidence, qint64 settledTurnCount, double elapsed);
    // Acknowledging the loop keeps the prompt away longer than a plain dismissal.
    void dismiss(double elapsed, bool acknowledged);
    void reset();
};

} // namespace lumora
