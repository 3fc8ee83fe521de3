#include "domain/CircularityGate.hpp"

#include "domain/ConversationSignals.hpp"

#include <cmath>

namespace lumora {

bool CircularityGate::update(bool qualifying, double confidence, qint64 settledTurnCount, double elapsed)
{
    if (!qualifying) {
        firstDetectedAtTurn.reset();
        return false;
    }
    if (!firstDetectedAtTurn)
        firstDetectedAtTurn = settledTurnCount;
    return suppressedUntil <= elapsed
        && ConversationSignals::circularityReady(confidence, *firstDetectedAtTurn, settledTurnCount, elapsed);
}

void CircularityGate::dismiss(double elapsed, bool acknowledged)
{
    firstDetectedAtTurn.reset();
    const double until = elapsed
        + (acknowledged ? ConversationSignals::circularityAcknowledgedCooldown
                        : ConversationSignals::circularityDismissCooldown);
    // A dismissal at an unknown time keeps the suppression it had: a not-a-number bound
    // would silence the prompt for the rest of the conversation.
    if (!std::isnan(until))
        suppressedUntil = until;
}

void CircularityGate::reset()
{
    *this = CircularityGate {};
}

} // namespace lumora
