#include "common/BodyBudget.hpp"

#include <algorithm>
#include <deque>
#include <optional>
#include <unordered_map>
#include <utility>

namespace lumora {

namespace {

// How long a key refused counts among those asking for a part: far longer than a body may go
// without bringing bytes, so that those holding more than their share meet their refusal at
// their next bytes, and long enough for the refused to try again.
constexpr auto refusalMemory = std::chrono::seconds(10);
// The window in which a body must bring `floorRate` bytes: it keeps its place this long after
// the last such bytes, and twice as long after it started, whatever it brings.
constexpr auto paceWindow = std::chrono::seconds(1);

} // namespace

// The bytes of one part of the budget, by key (a client address, a network or an owner),
// within a room that it may share with another part.
class BodyBudget::Part {
public:
    Part(std::size_t room, std::size_t cap, Room& shared)
        : m_room(room)
        , m_cap(cap)
        , m_shared(shared)
    {
    }

    // Takes `more` bytes for `key`: false when they pass the key's share, the part or the room
    // it shares.
    bool take(const std::string& key, std::size_t more, Clock::time_point now)
    {
        if (more == 0)
            return true;
        const bool roomLeft = m_held + more <= m_room && m_shared.held + more <= m_shared.size;
        Key* taker = admit(key, more, roomLeft, now);
        if (!taker)
            return false;
        taker->bytes += more;
        m_held += more;
        m_shared.held += more;
        return true;
    }

    // Counts `bytes` held for `from` here against `to` in `part`, which shares this part's
    // room: false when they pass `to`'s share or `part`.
    bool move(
        const std::string& from, Part& part, const std::string& to, std::size_t bytes, Clock::time_point now)
    {
        if (bytes == 0)
            return true;
        Key* taker = part.admit(to, bytes, part.m_held + bytes <= part.m_room, now);
        if (!taker)
            return false;
        taker->bytes += bytes;
        part.m_held += bytes;
        release(from, bytes);
        m_held -= bytes;
        return true;
    }

    void give(const std::string& key, std::size_t bytes)
    {
        if (bytes == 0)
            return;
        release(key, bytes);
        m_held -= bytes;
        m_shared.held -= bytes;
    }

private:
    struct Key {
        std::size_t bytes = 0;
        std::optional<Clock::time_point> refusedAt;
    };

    // The key that may hold `more` bytes more, when they fit its share and `roomLeft` says they
    // fit the part; null when not, the refusal remembered.
    Key* admit(const std::string& key, std::size_t more, bool roomLeft, Clock::time_point now)
    {
        forgetRefusals(now);
        auto found = m_keys.find(key);
        const bool known = found != m_keys.end();
        const std::size_t held = known ? found->second.bytes : 0;
        const std::size_t asking = m_keys.size() + (known ? 0 : 1);
        const std::size_t share = std::min(m_cap, m_room / asking);
        if (!known)
            found = m_keys.emplace(key, Key {}).first;
        Key& taker = found->second;
        if (!roomLeft || held + more > share) {
            // Remembered from its first refusal on: one entry a key, however often it asks.
            if (!taker.refusedAt) {
                taker.refusedAt = now;
                m_refusals.emplace_back(now, key);
            }
            return nullptr;
        }
        taker.refusedAt.reset();
        return &taker;
    }

    void release(const std::string& key, std::size_t bytes)
    {
        const auto found = m_keys.find(key);
        found->second.bytes -= bytes;
        if (found->second.bytes == 0 && !found->second.refusedAt)
            m_keys.erase(found);
    }

    void forgetRefusals(Clock::time_point now)
    {
        while (!m_refusals.empty() && now - m_refusals.front().first > refusalMemory) {
            const auto& [at, key] = m_refusals.front();
            const auto found = m_keys.find(key);
            if (found != m_keys.end() && found->second.refusedAt == at) {
                found->second.refusedAt.reset();
                if (found->second.bytes == 0)
                    m_keys.erase(found);
            }
            m_refusals.pop_front();
        }
    }

    std::size_t m_room;
    std::size_t m_cap;
    Room& m_shared;
    std::size_t m_held = 0;
    // Keys holding bytes or refused lately.
    std::unordered_map<std::string, Key> m_keys;
    // Refusals in the order they came, to forget them.
    std::deque<std::pair<Clock::time_point, std::string>> m_refusals;
};

BodyBudget::BodyBudget(BodyBudgetLimits limits)
    : m_limits(limits)
{
    const std::size_t strangers = std::min(limits.strangers, limits.total);
    m_strangersRoom.size = strangers;
    m_ownersRoom.size = limits.total - strangers;
    m_strangers = std::make_unique<Part>(strangers, limits.perAddress, m_strangersRoom);
    m_owners = std::make_unique<Part>(m_ownersRoom.size, limits.perOwner, m_ownersRoom);
    m_named = std::make_unique<Part>(m_ownersRoom.size / 2, limits.perOwner, m_ownersRoom);
}

BodyBudget::~BodyBudget() = default;

BodyBudget::Place::Place(BodyBudget& budget, Whose whose, std::string key, Clock::time_point started)
    : m_budget(budget)
    , m_part(whose == Whose::stranger ? budget.m_strangers.get()
              : whose == Whose::named ? budget.m_named.get()
                                      : budget.m_owners.get())
    , m_key(std::move(key))
    , m_started(started)
    , m_paced(started)
{
}

BodyBudget::Place::~Place()
{
    const std::lock_guard lock(m_budget.m_lock);
    m_part->give(m_key, m_bytes);
}

bool BodyBudget::Place::cover(std::size_t length, Clock::time_point now)
{
    if (length > m_bytes) {
        const std::lock_guard lock(m_budget.m_lock);
        if (!m_part->take(m_key, length - m_bytes, now))
            return false;
        m_bytes = length;
    }
    if (m_bytes >= m_pacedBytes + m_budget.m_limits.floorRate) {
        m_paced = now;
        m_pacedBytes = m_bytes;
    }
    return true;
}

bool BodyBudget::Place::vouch(const std::string& owner, Clock::time_point now)
{
    const std::lock_guard lock(m_budget.m_lock);
    if (!m_part->move(m_key, *m_budget.m_owners, owner, m_bytes, now))
        return false;
    m_part = m_budget.m_owners.get();
    m_key = owner;
    return true;
}

BodyBudget::Clock::time_point BodyBudget::Place::lapsesAt() const
{
    if (m_budget.m_limits.floorRate == 0)
        return Clock::time_point::max();
    return std::max(m_started + 2 * paceWindow, m_paced + paceWindow);
}

} // namespace lumora
