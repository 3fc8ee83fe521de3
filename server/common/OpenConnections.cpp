#include "common/OpenConnections.hpp"

#include <algorithm>
#include <chrono>
#include <vector>

namespace lumora {

namespace {

std::int64_t ticksNow()
{
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

} // namespace

void OpenConnections::Connection::startWaiting()
{
    if (m_waitingSince == 0)
        m_waitingSince = ticksNow();
}

void OpenConnections::Connection::stopWaiting()
{
    m_waitingSince = 0;
}

bool OpenConnections::Connection::waiting() const
{
    return m_waitingSince != 0;
}

OpenConnections::OpenConnections(std::size_t cap)
    : m_cap(cap)
{
}

void OpenConnections::add(std::shared_ptr<Connection> connection)
{
    connection->startWaiting();
    bool atCap = false;
    {
        const std::lock_guard lock(m_lock);
        atCap = m_connections.size() >= m_cap;
    }
    if (atCap)
        closeSlowest();
    const std::lock_guard lock(m_lock);
    connection->m_position = m_connections.insert(m_connections.end(), connection);
    connection->m_listed = true;
}

void OpenConnections::remove(Connection& connection)
{
    const std::lock_guard lock(m_lock);
    if (connection.m_listed) {
        connection.m_listed = false;
        m_connections.erase(connection.m_position);
    }
}

bool OpenConnections::full() const
{
    const std::lock_guard lock(m_lock);
    return m_connections.size() >= m_cap
        && std::ranges::none_of(m_connections, [](const auto& connection) { return connection->waiting(); });
}

bool OpenConnections::closeSlowest()
{
    std::shared_ptr<Connection> slowest;
    {
        const std::lock_guard lock(m_lock);
        std::int64_t slowestSince = 0;
        for (const auto& connection : m_connections) {
            const std::int64_t since = connection->m_waitingSince;
            if (since != 0 && (!slowest || since < slowestSince)) {
                slowest = connection;
                slowestSince = since;
            }
        }
        if (!slowest)
            return false;
        slowest->m_listed = false;
        m_connections.erase(slowest->m_position);
    }
    // A request completed meanwhile is served; the cap is over by one until it ends.
    slowest->close();
    return true;
}

void OpenConnections::closeWaiting()
{
    std::vector<std::shared_ptr<Connection>> open;
    {
        const std::lock_guard lock(m_lock);
        open.assign(m_connections.begin(), m_connections.end());
    }
    for (const auto& connection : open) {
        if (connection->waiting())
            connection->close();
    }
}

} // namespace lumora
