#include "controlplane/TakenSignIns.hpp"

#include <algorithm>
#include <ranges>

namespace lumora {

TakenSignIns::TakenSignIns(SignInLimits limits)
    : m_limits(limits)
{
}

std::optional<SignInRequestRefusal> TakenSignIns::refusal(const SignInSource& source, qint64 now) const
{
    const std::lock_guard lock(m_lock);
    const auto network = m_networks.constFind(source.network);
    if (network == m_networks.cend())
        return std::nullopt;
    RecentSignIns recent;
    qint64 ofNetwork = 0;
    qint64 ofAddress = 0;
    for (const auto& [at, address] : network->starts | std::views::reverse) {
        if (at <= now - signInRateWindow)
            break;
        ++ofNetwork;
        if (ofNetwork == m_limits.perNetwork)
            recent.networkBound = at;
        if (ofNetwork == 2 * qint64(m_limits.perNetwork))
            recent.networkExtraBound = at;
        if (address != source.address)
            continue;
        if (++ofAddress == 1)
            recent.addressNewest = at;
        if (ofAddress == m_limits.perAddress)
            recent.addressBound = at;
    }
    const qint64 rated = recent.wait(now);
    if (rated == 0 || !network->found)
        return std::nullopt;
    const qint64 held = network->found->holding.heldUntil(source.address, network->found->allUntil) - now;
    return SignInRequestRefusal { SignInRequestRefusal::Reason::tooMany, std::max(rated, held) };
}

void TakenSignIns::decided(const SignInSource& source, qint64 now, const SignInDecision& decision)
{
    const std::lock_guard lock(m_lock);
    while (!m_order.empty() && m_order.front().first <= now - signInRateWindow) {
        const auto network = m_networks.find(m_order.front().second);
        if (network != m_networks.end()) {
            network->starts.pop_front();
            if (network->starts.empty())
                m_networks.erase(network);
        }
        m_order.pop_front();
    }
    if (decision.outcome) {
        m_networks[source.network].starts.emplace_back(now, source.address);
        m_order.emplace_back(now, source.network);
    }
    // Known only while the network has starts counted: the rates refuse none without.
    if (const auto network = m_networks.find(source.network); network != m_networks.end())
        network->found = Found { decision.holding, decision.allUntil };
}

void TakenSignIns::changed(const QString& network)
{
    const std::lock_guard lock(m_lock);
    if (const auto found = m_networks.find(network); found != m_networks.end())
        found->found.reset();
}

} // namespace lumora
