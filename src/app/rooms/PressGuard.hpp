#pragma once

#include <QPointF>
#include <chrono>
#include <optional>

namespace lumora {

// Keeps a row of controls from taking presses for a moment after its buttons changed meaning
// under the pointer: the second click of a double click on "Finish conversation", or a press
// aimed at a button that has just gone, would otherwise land on the one now in its place
// ("Start conversation", "Weekly check-in"). The moment ends after `settleTime`, or sooner once
// the pointer has moved `moveDistance` from where it was when the row changed: a moved pointer
// aims anew.
class PressGuard {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds settleTime { 1000 };
    static constexpr double moveDistance = 8;

    // The row's buttons changed meaning at `now`.
    void rowChanged(Clock::time_point now);
    // Where the pointer is over the row, in the window's coordinates.
    void pointerAt(QPointF position);
    [[nodiscard]] bool takesPresses(Clock::time_point now) const;

private:
    std::optional<Clock::time_point> m_changedAt;
    // The pointer's last place, and where it was when the row changed.
    std::optional<QPointF> m_pointer;
    std::optional<QPointF> m_pointerAtChange;
    bool m_pointerMoved = false;
};

} // namespace lumora
