#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

namespace lumora {

// The connections a server has open, and which of them makes way at the cap: the one that has
// waited longest for a complete request (its head or its body). A connection that has its
// request in is never closed to make way; when all have theirs, new clients wait.
class OpenConnections {
public:
    // One open connection as the list sees it: whether it waits for a request, and since when.
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
        [[nodiscard]] bool waiting() const;

    protected:
        // Closes the connection on its own thread, unless its request has come in by then.
        // Called on any thread, with no lock held.
        virtual void close() = 0;

    private:
        friend class OpenConnections;
        // Clock ticks since it waits; 0 while it does not.
        std::atomic<std::int64_t> m_waitingSince { 0 };
        // Its place in the list, guarded by the list's lock.
        std::list<std::shared_ptr<Connection>>::iterator m_position;
        bool m_listed = false;
    };

    explicit OpenConnections(std::size_t cap);

    // Lists a new connection, waiting for its first request from now; at the cap the one that
    // has waited longest is closed first to make room.
    void add(std::shared_ptr<Connection> connection);
    // Takes a connection that ends off the list, unless it made way already.
    void remove(Connection& connection);
    // At the cap with every connection past its request: a new one would find no room.
    [[nodiscard]] bool full() const;
    // Closes the connection that has waited longest, if one waits. It leaves the list at once,
    // and its descriptor goes as soon as its thread runs; false when none waits.
    bool closeSlowest();
    // Closes every connection that waits (when the server stops).
    void closeWaiting();

private:
    mutable std::mutex m_lock;
    std::list<std::shared_ptr<Connection>> m_connections;
    std::size_t m_cap;
};

} // namespace lumora
