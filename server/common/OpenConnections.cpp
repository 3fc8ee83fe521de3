#include "common/OpenConnections.hpp"

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

void OpenConnections::Connection::hold()
{
    enter(Phase::held);
}

void OpenConnections::Connection::startMoving(std::chrono::milliseconds patience)
{
    m_patience = std::chrono::duration_cast<std::chrono::steady_clock::duration>(patience).count();
    enter(Phase::moving);
}

void OpenConnections::Connection::moved()
{
    m_since = ticksNow();
}

void OpenConnections::Connection::startClosing()
{
    enter(Phase::closing);
}

std::optional<std::int64_t> OpenConnections::Connection::idleWhenMakingWay(std::int64_t now) const
{
    const Phase phase = m_phase;
    const std::int64_t idle = now - m_since;
    if (phase == Phase::held || (phase == Phase::moving && idle < m_patience))
        return std::nullopt;
    return idle;
}

bool OpenConnections::Connection::makesWay() const
{
    return idleWhenMakingWay(ticksNow()).has_value();
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

void OpenConnections::findFirstToMakeWay(const Connections& connections, std::int64_t now,
    std::shared_ptr<Connection>& first, std::int64_t& firstIdle)
{
    for (const auto& connection : connections) {
        if (connection->m_closing)
            continue;
        const auto idle = connection->idleWhenMakingWay(now);
        if (idle && (!first || *idle > firstIdle)) {
            first = connection;
            firstIdle = *idle;
        }
    }
}

std::shared_ptr<OpenConnections::Connection> OpenConnections::firstToMakeWay() const
{
    const std::int64_t now = ticksNow();
    std::shared_ptr<Connection> first;
    std::int64_t idle = 0;
    for (const auto& [address, connections] : m_byAddress)
        findFirstToMakeWay(connections, now, first, idle);
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
            std::int64_t idle = 0;
            findFirstToMakeWay(same, ticksNow(), chosen, idle);
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
    // One that moves or closes is let finish: it may still be writing an answer.
    for (const auto& connection : open) {
        if (connection->m_phase == Connection::Phase::waiting)
            connection->close();
    }
}

} // namespace lumora
