#include "controlplane/SignInLimits.hpp"

#include <algorithm>

namespace lumora {

qint64 RecentSignIns::wait(qint64 now) const
{
    // When the start counted as `bound` leaves the window: then fewer than that are in it.
    const auto leaves = [now](const std::optional<qint64>& bound) {
        return bound ? *bound + signInRateWindow - now : qint64(0);
    };
    // The address below its rate, and its network below its rate, or the address without a start
    // in the minute and its network below twice the rate.
    const qint64 network
        = std::min(leaves(networkBound), std::max(leaves(addressNewest), leaves(networkExtraBound)));
    return std::max({ leaves(addressBound), network, qint64(0) });
}

qint64 SignInHolding::fullUntil(qint64 allUntil) const
{
    return std::max(shareUntil, std::min(keyShareUntil, allUntil));
}

qint64 SignInHolding::heldUntil(const QString& address, qint64 allUntil) const
{
    return std::min(partUntil.value(address, 0), fullUntil(allUntil));
}

} // namespace lumora
