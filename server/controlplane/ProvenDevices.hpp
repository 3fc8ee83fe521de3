#pragma once

#include <QString>
#include <QUuid>
#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

namespace lumora {

// The devices that have made a signed call whose signature held from a client address lately:
// a body such a device's head names from there is its account's from its first byte, so that
// strangers, who cannot sign as it, do not shrink its share. Whoever shares the address and
// knows the device's id could name it too, but only from there, and only until the signature
// over the body is checked. Bounded: the oldest proofs go first. Thread-safe.
class ProvenDevices {
public:
    using Clock = std::chrono::steady_clock;
    // How long a proof holds: longer than a conversation, so that the upload after it counts.
    static constexpr auto lifetime = std::chrono::hours(1);
    static constexpr auto renewal = std::chrono::minutes(1);

    explicit ProvenDevices(std::size_t capacity = 100'000);

    void remember(const QUuid& device, const std::string& client, Clock::time_point now);
    [[nodiscard]] bool proven(const QUuid& device, const std::string& client, Clock::time_point now) const;

private:
    static std::string keyOf(const QUuid& device, const std::string& client);

    std::size_t m_capacity;
    mutable std::mutex m_lock;
    std::unordered_map<std::string, Clock::time_point> m_proofs;
    // Proofs in the order they came (a renewed one again at the end), to forget them; never
    // more than the capacity.
    std::deque<std::pair<Clock::time_point, std::string>> m_order;
};

} // namespace lumora
