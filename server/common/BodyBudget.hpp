#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

namespace lumora {

struct BodyBudgetLimits {
    // The bytes of all bodies together.
    std::size_t total = 256 * 1024 * 1024;
    // The strangers' part of it, for the bodies that name no owner, and the most that those
    // from one client address may hold of that part.
    std::size_t strangers = 16 * 1024 * 1024;
    std::size_t perAddress = 1024 * 1024;
    // The most that the bodies of one owner, or those from one network that name an owner, may
    // hold of the rest: the owners' part.
    std::size_t perOwner = 4 * 1024 * 1024;
    // The bytes a body must bring within its first two seconds, and then within a second of
    // the last such bytes; 0 asks for none.
    std::size_t floorRate = 16 * 1024;
};

// The memory that request bodies may hold, counted as their bytes arrive, and for how long a
// body that stops coming keeps its place. It has two parts. The strangers' holds the bodies
// that name no owner (the calls anyone may make), each counted against its client address.
// The owners' holds the bodies that name one: each counted against its owner once vouched for
// (by its head, or by the signature over it once whole), and until then against its client's
// network, never against the owner it names. Those not vouched for yet hold at most half of
// the owners' part and are shared apart, so that however many networks send them, the owners'
// shares stay whole. A body's bytes never pass its part, nor its key's cap, nor its share: it
// may take more while the part holds what its key would then hold beside what the other keys
// hold (or, when less, as much for each of them) and as much again for each key refused in
// the last ten seconds, who may have that much. Those holding more than their share then get
// no more bytes, so that the refused have theirs. A crowd holding a byte each thus takes a byte
// each from the others' shares, and shrinks them only by holding the part itself. The owners'
// bodies are shared so among their clients' networks first, and an owner refused asks for more
// only of the owners of its own network: a crowd of owners from a few networks holds at most
// those networks' shares, and leaves the rest to the owners of other networks. Thread-safe.
class BodyBudget {
public:
    using Clock = std::chrono::steady_clock;
    class Place;

    explicit BodyBudget(BodyBudgetLimits limits);
    ~BodyBudget();
    BodyBudget(const BodyBudget&) = delete;
    BodyBudget& operator=(const BodyBudget&) = delete;

private:
    // Bytes that parts share.
    struct Room {
        std::size_t size = 0;
        std::size_t held = 0;
    };
    class Part;
    // Counts `bytes` more for `key` in `part` and, when given, for `network` in `networks`: false,
    // counting nothing and remembering the refusal, when they pass either share or `roomLeft`
    // says they pass the room.
    static bool admit(Part& part, const std::string& key, Part* networks, const std::string& network,
        std::size_t bytes, bool roomLeft, Clock::time_point now);
    BodyBudgetLimits m_limits;
    std::mutex m_lock;
    Room m_strangersRoom;
    Room m_ownersRoom;
    std::unique_ptr<Part> m_strangers;
    // In the owners' room: the bodies vouched for, by owner and by their clients' networks, and
    // those not yet.
    std::unique_ptr<Part> m_owners;
    std::unique_ptr<Part> m_ownerNetworks;
    std::unique_ptr<Part> m_named;
};

// One body's place in the budget, from its head until its answer is sent (or it is refused):
// the bytes it holds, and until when it keeps them.
class BodyBudget::Place {
public:
    enum class Whose {
        // The body names no owner: the key is its client address.
        stranger,
        // The body names an owner who vouches for it only once it is whole (a signature over
        // it): the key is its client's network until vouch().
        named,
        // The body's head vouches for its owner, the key.
        owner,
    };

    // `network` is the client's network (the key of a named body), among which owners' bodies are
    // shared as well.
    Place(BodyBudget& budget, Whose whose, std::string key, Clock::time_point started,
        std::string network = {});
    // Gives its bytes back.
    ~Place();
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;

    // Counts the body as `length` bytes long at `now`: false, counting nothing more, when that
    // passes its share or its part.
    bool cover(std::size_t length, Clock::time_point now);
    // Counts a named body, whole and now vouched for, against `owner`: false, leaving it where
    // it was, when that passes the owner's share.
    bool vouch(const std::string& owner, Clock::time_point now);
    // When the body loses its place unless more of it comes: two seconds after it started, or
    // a second after its last `floorRate` bytes, whichever is later.
    [[nodiscard]] Clock::time_point lapsesAt() const;

private:
    // Where its bytes count: its key's part, its network's among the owners' bodies (null for
    // others), and the room.
    Part& part() const;
    Part* networks() const;
    Room& room() const;

    BodyBudget& m_budget;
    Whose m_whose;
    std::string m_key;
    std::string m_network;
    std::size_t m_bytes = 0;
    Clock::time_point m_started;
    // When the body last brought `floorRate` bytes, and how long it was then.
    Clock::time_point m_paced;
    std::size_t m_pacedBytes = 0;
};

} // namespace lumora
