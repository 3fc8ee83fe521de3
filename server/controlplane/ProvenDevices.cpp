#include "controlplane/ProvenDevices.hpp"

namespace lumora {

ProvenDevices::ProvenDevices(std::size_t capacity)
    : m_capacity(capacity)
{
}

std::string ProvenDevices::keyOf(const QUuid& device, const std::string& client)
{
    return device.toString(QUuid::WithoutBraces).toStdString() + ' ' + client;
}

void ProvenDevices::remember(const QUuid& device, const std::string& client, Clock::time_point now)
{
    std::string key = keyOf(device, client);
    const std::lock_guard lock(m_lock);
    // Renewed at most once a minute, so that a device's every call does not add to the order.
    const auto [found, added] = m_proofs.try_emplace(key, now);
    if (!added && now - found->second < renewal)
        return;
    found->second = now;
    m_order.emplace_back(now, std::move(key));
    // Those that lapsed, and past the capacity the oldest; an entry renewed since stays.
    while (!m_order.empty() && (now - m_order.front().first > lifetime || m_order.size() > m_capacity)) {
        const auto& [at, oldest] = m_order.front();
        if (const auto proof = m_proofs.find(oldest); proof != m_proofs.end() && proof->second == at)
            m_proofs.erase(proof);
        m_order.pop_front();
    }
}

bool ProvenDevices::proven(const QUuid& device, const std::string& client, Clock::time_point now) const
{
    const std::lock_guard lock(m_lock);
    const auto found = m_proofs.find(keyOf(device, client));
    return found != m_proofs.end() && now - found->second <= lifetime;
}

} // namespace lumora
