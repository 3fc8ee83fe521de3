#include "common/OpenConnections.hpp"

#include <chrono>
#include <vector>

namespace lumora {

namespace {

std::int64_t ticksNow()
{
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

} // namespace

void OpenConnections::Connection::enter(Phase phase)
{
    m_phase = phase;
    m_since = ticksNow();
    m_closing = false;
}

void OpenConnections::Connection::startWaiting()
{
    if (m_phase != Phase::waiting)
        enter(Phase::waiting);
}

void OpenConnections::Connection::stopWaiting()
{
    enter(Phase::busy);
}

void OpenConnections::Connection::startFinishing()
{
    enter(Phase::finishing);
}

bool OpenConnections::Connection::makesWay() const
{
    return m_phase != Phase::busy;
}

void OpenConnections::Connection::keptOpen()
{
    m_closing = false;
}

OpenConnections::OpenConnections(std::size_t cap, std::size_t capPerAddress)
    : m_cap(cap)
    , m_capPerAddress(capPerAddress)
{
}

std::pair<int, std::int64_t> OpenConnections::precedence(const Connection& connection)
{
    return { connection.m_phase == Connection::Phase::finishing ? 0 : 1, connection.m_since.load() };
}

std::shared_ptr<OpenConnections::Connection> OpenConnections::firstToMakeWay(
    const Connections& connections, std::shared_ptr<Connection> first)
{
    for (const auto& connection : connections) {
        if (connection->m_phase == Connection::Phase::busy || connection->m_closing)
            continue;
        if (!first || precedence(*connection) < precedence(*first))
            first = connection;
    }
    return first;
}

std::shared_ptr<OpenConnections::Connection> OpenConnections::firstToMakeWay() const
{
    std::shared_ptr<Connection> first;
    for (const auto& [address, connections] : m_byAddress)
        first = firstToMakeWay(connections, std::move(first));
    return first;
}

OpenConnections::Room OpenConnections::makeRoom()
{
    std::shared_ptr<Connection> chosen;
    {
        const std::lock_guard lock(m_lock);
        if (m_count < m_cap)
            return Room::free;
        // One asked already frees its place as soon as its thread closes it.
        for (const auto& [address, connections] : m_byAddress) {
            for (const auto& connection : connections) {
                if (connection->m_closing)
                    return Room::coming;
            }
        }
        chosen = firstToMakeWay();
        if (!chosen)
            return Room::none;
        chosen->m_closing = true;
    }
    chosen->close();
    return Room::coming;
}

bool OpenConnections::add(std::shared_ptr<Connection> connection, std::string address)
{
    connection->startWaiting();
    std::shared_ptr<Connection> chosen;
    {
        const std::lock_guard lock(m_lock);
        Connections& same = m_byAddress[address];
        if (same.size() >= m_capPerAddress) {
            chosen = firstToMakeWay(same);
            if (!chosen)
                return false;
            chosen->m_closing = true;
        }
        connection->m_address = std::move(address);
        connection->m_position = same.insert(same.end(), connection);
        connection->m_listed = true;
        ++m_count;
    }
    if (chosen)
        chosen->close();
    return true;
}

void OpenConnections::remove(Connection& connection)
{
    const std::lock_guard lock(m_lock);
    if (!connection.m_listed)
        return;
    connection.m_listed = false;
    const auto same = m_byAddress.find(connection.m_address);
    same->second.erase(connection.m_position);
    if (same->second.empty())
        m_byAddress.erase(same);
    --m_count;
}

bool OpenConnections::closeSlowest()
{
    std::shared_ptr<Connection> chosen;
    {
        const std::lock_guard lock(m_lock);
        chosen = firstToMakeWay();
        if (!chosen)
            return false;
        chosen->m_closing = true;
    }
    chosen->close();
    return true;
}

void OpenConnections::closeWaiting()
{
    std::vector<std::shared_ptr<Connection>> open;
    {
        const std::lock_guard lock(m_lock);
        for (const auto& [address, connections] : m_byAddress)
            open.insert(open.end(), connections.begin(), connections.end());
    }
    // One finishing is let finish: it may still be writing an answer.
    for (const auto& connection : open) {
        if (connection->m_phase == Connection::Phase::waiting)
            connection->close();
    }
}

} // namespace lumora
