#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace lumora {

// The connections a server has open, each counted until its descriptor is closed, and which of
// them makes way when room is needed. A connection makes way by its progress, not by what it is
// doing: one whose client reads its answer, sends its body at the floor rate or feeds its stream
// never makes way, nor one whose request is in and waits for its answer; those that make no
// progress (no request yet, a head not complete, an answer unread, the drain after a refusal,
// the TLS close) do, the one idle longest first. When none can, the newcomer is the one turned
// away. One client address (an IPv6 one by its /64 prefix) holds at most a bounded number of
// connections, and at that bound its own make way by the same rule.
class OpenConnections {
public:
    // One open connection as the list sees it: whether it may make way, and since when it is
    // idle.
    class Connection {
    public:
        Connection() = default;
        virtual ~Connection() = default;
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;

        // Waits for a request from now on, unless it waits already: it makes way. Called on the
        // connection's own thread, like the calls below.
        void startWaiting();
        // Has its request in (or a body coming at the floor rate) and waits for its answer: it
        // never makes way.
        void hold();
        // Moves what its client asked for (an answer being written, a stream being fed): it makes
        // way only once it has moved nothing for `patience`.
        void startMoving(std::chrono::milliseconds patience);
        // Has moved some of it just now.
        void moved();
        // Has its answer and only closes (drains a refused request, waits for the TLS close): it
        // makes way.
        void startClosing();

    protected:
        // Closes the connection on its own thread if it still makes way by then, and calls
        // `keptOpen()` otherwise. Called on any thread, with no lock held.
        virtual void close() = 0;
        // Whether it makes way now; on its own thread.
        [[nodiscard]] bool makesWay() const;
        // It was asked to close and did not (it moved, or its request came in, meanwhile): it
        // may be asked again later.
        void keptOpen();

    private:
        friend class OpenConnections;
        enum class Phase { held, waiting, moving, closing };
        void enter(Phase phase);
        // How long it has made no progress, when it makes way at `now`.
        [[nodiscard]] std::optional<std::int64_t> idleWhenMakingWay(std::int64_t now) const;

        std::atomic<Phase> m_phase { Phase::held };
        // Clock ticks since it entered its phase, or last moved.
        std::atomic<std::int64_t> m_since { 0 };
        std::atomic<std::int64_t> m_patience { 0 };
        // Asked to close and not yet gone; a new phase clears it.
        std::atomic<bool> m_closing { false };
        // Its place in its address's list, guarded by the list's lock.
        std::string m_address;
        std::list<std::shared_ptr<Connection>>::iterator m_position;
        bool m_listed = false;
    };

    enum class Room {
        free, // below the cap
        coming, // at the cap, one is closing
        none, // at the cap, none makes way
    };

    OpenConnections(std::size_t cap, std::size_t capPerAddress);

    // Whether a new connection fits; at the cap the one that makes way first is closed, unless
    // one is closing already.
    Room makeRoom();
    // Lists a new connection from `address`, waiting for its first request from now. At the
    // address's bound one of that address's connections makes way; false when none can, and
    // the new one is not listed (it is to be closed at once).
    bool add(std::shared_ptr<Connection> connection, std::string address);
    // Takes a connection off the list once its descriptor is closed.
    void remove(Connection& connection);
    // Closes the connection that makes way first, if one may; it stays listed until removed.
    bool closeSlowest();
    // Closes every connection that waits for a request (when the server stops).
    void closeWaiting();

private:
    using Connections = std::list<std::shared_ptr<Connection>>;
    // The connection among `connections` that makes way first at `now` and is not closing, if
    // it has been idle longer than `first` (which it replaces); how long it has been idle.
    static void findFirstToMakeWay(const Connections& connections, std::int64_t now,
        std::shared_ptr<Connection>& first, std::int64_t& firstIdle);
    std::shared_ptr<Connection> firstToMakeWay() const;

    mutable std::mutex m_lock;
    std::unordered_map<std::string, Connections> m_byAddress;
    std::size_t m_count = 0;
    std::size_t m_cap;
    std::size_t m_capPerAddress;
};

} // namespace lumora
