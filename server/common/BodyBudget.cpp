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

// The bytes of one part of the budget, by key (a client address, a network or an owner). Its
// room may hold other parts' bytes as well, which the budget counts.
class BodyBudget::Part {
public:
    Part(std::size_t room, std::size_t cap)
        : m_room(room)
        , m_cap(cap)
    {
    }

    [[nodiscard]] bool roomFor(std::size_t more) const { return m_held + more <= m_room; }

    // Whether `key`, of `group`, may hold `more` bytes more: when what it would then hold,
    // `wanted`, stays within its cap, and the part holds it beside what the others hold (or, when
    // less, `wanted` for each of them) and `wanted` for each key of its group refused lately. So a
    // crowd holding little takes from anyone's share only what it holds, however many they are;
    // one refused asks its own group for as much as it may have, and the others only for what it
    // holds; and one holding more than its share while others ask gets no more bytes until they
    // have theirs. Counted in constant time: the others' holdings are never looked at one by one.
    bool fair(const std::string& key, const std::string& group, std::size_t more, Clock::time_point now)
    {
        forgetRefusals(now);
        const auto found = m_keys.find(key);
        const Key* taker = found != m_keys.end() ? &found->second : nullptr;
        const std::size_t held = taker ? taker->bytes : 0;
        const std::size_t wanted = held + more;
        if (wanted > m_cap)
            return false;
        const bool refusedHere = taker && taker->refusedAt && taker->group == group;
        const auto refused = m_refusedIn.find(group);
        const std::size_t groupRefused = refused == m_refusedIn.end() ? 0 : refused->second.keys;
        const std::size_t groupRefusedHold = refused == m_refusedIn.end() ? 0 : refused->second.bytes;
        const std::size_t asking = groupRefused - (refusedHere ? 1 : 0) + 1;
        if (asking * wanted > m_room)
            return false;
        const std::size_t othersHold = m_held - held - (groupRefusedHold - (refusedHere ? held : 0));
        const std::size_t others = m_keys.size() - (taker ? 1 : 0) - (asking - 1);
        return std::min(othersHold, others * wanted) + asking * wanted <= m_room;
    }

    // Remembers `key` among those of `group` asking, from its first refusal on: one entry a key,
    // however often it asks.
    void refuse(const std::string& key, const std::string& group, Clock::time_point now)
    {
        forgetRefusals(now);
        Key& refused = m_keys[key];
        if (refused.refusedAt)
            return;
        refused.refusedAt = now;
        refused.group = group;
        m_refusals.emplace_back(now, key);
        Refused& in = m_refusedIn[group];
        ++in.keys;
        in.bytes += refused.bytes;
    }

    // Counts `bytes` more for `key`. One refused lately goes on asking for more until its refusal
    // is forgotten: a body under way needs more than it holds, and what it was refused for
    // stays free for it meanwhile.
    void add(const std::string& key, std::size_t bytes)
    {
        Key& taker = m_keys[key];
        if (taker.refusedAt)
            m_refusedIn[taker.group].bytes += bytes;
        taker.bytes += bytes;
        m_held += bytes;
    }

    void remove(const std::string& key, std::size_t bytes)
    {
        if (bytes == 0)
            return;
        const auto found = m_keys.find(key);
        Key& holder = found->second;
        holder.bytes -= bytes;
        m_held -= bytes;
        if (holder.refusedAt)
            m_refusedIn[holder.group].bytes -= bytes;
        else if (holder.bytes == 0)
            m_keys.erase(found);
    }

private:
    struct Key {
        std::size_t bytes = 0;
        std::optional<Clock::time_point> refusedAt;
        // The group it asks more of, while refused.
        std::string group;
    };
    // The keys of a group refused lately, and what they hold.
    struct Refused {
        std::size_t keys = 0;
        std::size_t bytes = 0;
    };

    void forgive(Key& key)
    {
        key.refusedAt.reset();
        const auto in = m_refusedIn.find(key.group);
        in->second.bytes -= key.bytes;
        if (--in->second.keys == 0)
            m_refusedIn.erase(in);
    }

    void forgetRefusals(Clock::time_point now)
    {
        while (!m_refusals.empty() && now - m_refusals.front().first > refusalMemory) {
            const auto& [at, key] = m_refusals.front();
            const auto found = m_keys.find(key);
            if (found != m_keys.end() && found->second.refusedAt == at) {
                forgive(found->second);
                if (found->second.bytes == 0)
                    m_keys.erase(found);
            }
            m_refusals.pop_front();
        }
    }

    std::size_t m_room;
    std::size_t m_cap;
    std::size_t m_held = 0;
    // Keys holding bytes or refused lately.
    std::unordered_map<std::string, Key> m_keys;
    // Of those, the ones refused lately, by group.
    std::unordered_map<std::string, Refused> m_refusedIn;
    // Refusals in the order they came, to forget them.
    std::deque<std::pair<Clock::time_point, std::string>> m_refusals;
};

BodyBudget::BodyBudget(BodyBudgetLimits limits)
    : m_limits(limits)
{
    const std::size_t strangers = std::min(limits.strangers, limits.total);
    m_strangersRoom.size = strangers;
    m_ownersRoom.size = limits.total - strangers;
    m_strangers = std::make_unique<Part>(strangers, limits.perAddress);
    m_owners = std::make_unique<Part>(m_ownersRoom.size, limits.perOwner);
    m_ownerNetworks = std::make_unique<Part>(m_ownersRoom.size, m_ownersRoom.size);
    m_named = std::make_unique<Part>(m_ownersRoom.size / 2, limits.perOwner);
}

BodyBudget::~BodyBudget() = default;

bool BodyBudget::admit(Part& part, const std::string& key, Part* networks, const std::string& network,
    std::size_t bytes, bool roomLeft, Clock::time_point now)
{
    // Past its network's share (the room full or not), a key is cut there and asks for no more
    // than it holds among the keys, so that cutting a crowd's network never shrinks the shares
    // of others. Refused by its own share, or for want of room while within its network's, it
    // asks for more of the owners of its network, and of the networks, so that those past their
    // shares make way.
    static const std::string everyone;
    if (networks && !networks->fair(network, everyone, bytes, now)) {
        networks->refuse(network, everyone, now);
        return false;
    }
    const std::string& group = networks ? network : everyone;
    if (!roomLeft || !part.fair(key, group, bytes, now)) {
        part.refuse(key, group, now);
        if (networks)
            networks->refuse(network, everyone, now);
        return false;
    }
    part.add(key, bytes);
    if (networks)
        networks->add(network, bytes);
    return true;
}

BodyBudget::Place::Place(
    BodyBudget& budget, Whose whose, std::string key, Clock::time_point started, std::string network)
    : m_budget(budget)
    , m_whose(whose)
    , m_key(std::move(key))
    , m_network(whose == Whose::named ? m_key : std::move(network))
    , m_started(started)
    , m_paced(started)
{
}

BodyBudget::Part& BodyBudget::Place::part() const
{
    return m_whose == Whose::stranger ? *m_budget.m_strangers
        : m_whose == Whose::named     ? *m_budget.m_named
                                      : *m_budget.m_owners;
}

BodyBudget::Part* BodyBudget::Place::networks() const
{
    return m_whose == Whose::owner ? m_budget.m_ownerNetworks.get() : nullptr;
}

BodyBudget::Room& BodyBudget::Place::room() const
{
    return m_whose == Whose::stranger ? m_budget.m_strangersRoom : m_budget.m_ownersRoom;
}

BodyBudget::Place::~Place()
{
    if (m_bytes == 0)
        return;
    const std::lock_guard lock(m_budget.m_lock);
    part().remove(m_key, m_bytes);
    if (Part* networks = this->networks())
        networks->remove(m_network, m_bytes);
    room().held -= m_bytes;
}

bool BodyBudget::Place::cover(std::size_t length, Clock::time_point now)
{
    if (length > m_bytes) {
        const std::size_t more = length - m_bytes;
        const std::lock_guard lock(m_budget.m_lock);
        Part* networks = this->networks();
        const bool roomLeft = room().held + more <= room().size && part().roomFor(more)
            && (!networks || networks->roomFor(more));
        if (!admit(part(), m_key, networks, m_network, more, roomLeft, now))
            return false;
        room().held += more;
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
    if (m_bytes > 0) {
        Part& owners = *m_budget.m_owners;
        Part& networks = *m_budget.m_ownerNetworks;
        // Already in the owners' room: only the parts it moves to must hold it.
        const bool roomLeft = owners.roomFor(m_bytes) && networks.roomFor(m_bytes);
        if (!admit(owners, owner, &networks, m_network, m_bytes, roomLeft, now))
            return false;
        m_budget.m_named->remove(m_key, m_bytes);
    }
    m_whose = Whose::owner;
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
