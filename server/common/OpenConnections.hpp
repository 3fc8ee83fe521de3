#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

namespace lumora {

// The connections a server has open, each counted until its descriptor is closed, and which of
// them makes way when room is needed: first one that has its answer and is only finishing
// (writing it, draining, closing TLS), the one finishing longest; then the one that has waited
// longest for a complete request (its head or its body). A connection busy with its request is
// never closed to make way; when all are busy, new clients wait. One client address (an IPv6
// one by its /64 prefix) holds at most a bounded number of connections.
class OpenConnections {
public:
    // One open connection as the list sees it: what it is doing, and since when.
    class Connection {
    public:
        Connection() = default;
        virtual ~Connection() = default;
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;

        // Waits for a request from now on, unless it waits already. Called on the
        // connection's own thread, like the two below.
        void startWaiting();
        // Has its request in (its head and body, or a refusal): it no longer makes way.
        void stopWaiting();
        // Has its answer: what is left of it makes way before any connection that waits.
        void startFinishing();

    protected:
        // Closes the connection on its own thread if it still makes way by then, and calls
        // `keptOpen()` otherwise. Called on any thread, with no lock held.
        virtual void close() = 0;
        // Whether it still waits or finishes; on its own thread.
        [[nodiscard]] bool makesWay() const;
        // It was asked to close and did not (its request came in meanwhile): it may be asked
        // again later.
        void keptOpen();

    private:
        friend class OpenConnections;
        enum class Phase { busy, waiting, finishing };
        void enter(Phase phase);

        std::atomic<Phase> m_phase { Phase::busy };
        // Clock ticks since it is in its phase.
        std::atomic<std::int64_t> m_since { 0 };
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
        none, // at the cap, all are busy
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
    // A finishing connection before a waiting one, then the one longest in its phase.
    static std::pair<int, std::int64_t> precedence(const Connection& connection);
    // The connection among `connections` (or `first`) that makes way first and is not closing.
    static std::shared_ptr<Connection> firstToMakeWay(
        const Connections& connections, std::shared_ptr<Connection> first = nullptr);
    std::shared_ptr<Connection> firstToMakeWay() const;

    mutable std::mutex m_lock;
    std::unordered_map<std::string, Connections> m_byAddress;
    std::size_t m_count = 0;
    std::size_t m_cap;
    std::size_t m_capPerAddress;
};

} // namespace lumora
