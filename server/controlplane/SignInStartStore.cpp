#include "controlplane/SignInStartStore.hpp"

#include "controlplane/IdText.hpp"
#include "controlplane/SqlStatement.hpp"

#include <QCryptographicHash>
#include <algorithm>
#include <map>
#include <set>

namespace lumora {

namespace {

constexpr qint64 minute = signInRateWindow;

const QString openRequest = QStringLiteral("redeemed_at IS NULL AND superseded_at IS NULL AND");

// The `limit`-th newest of the requests of the last `window` seconds before `now` that `counted`
// picks, as a subquery whose values are appended to `values`; each is read through an index.
QString newest(QVariantList& values, const QString& counted, const QVariantList& counting, qint64 limit,
    qint64 window, qint64 now)
{
    values << counting << now - window << std::max<qint64>(limit - 1, 0);
    return "(SELECT created_at FROM sign_in_requests WHERE " + counted
        + " created_at > ? ORDER BY created_at DESC LIMIT 1 OFFSET ?)";
}

std::optional<qint64> timeIn(const Statement& row, int column)
{
    return row.value(column).isNull() ? std::nullopt : std::optional(row.value(column).toLongLong());
}

bool isSqlite(const ControlPlaneStore& store)
{
    return connectionOf(store.connectionName()).driverName() == u"QSQLITE";
}

} // namespace

// An open request as the bounds of its network read it.
struct SignInStartStore::OpenRequest {
    QString id;
    QString address;
    qint64 at = 0;
};

// What a network holds open, as its bounds read it.
struct SignInStartStore::NetworkOpen {
    // Newest first.
    std::vector<OpenRequest> requests;
    SignInHolding holding;
    // Whether it holds as many as one key may, so that the bound in all counts for it.
    bool holdsKeyShare = false;
    // The oldest open request of the address holding most (of several, of the one whose oldest
    // request is oldest): the one that makes way for an address holding less than its part.
    std::optional<QString> oldestOfMost;
    // Until when the bound in all is reached; read only when it counts.
    qint64 allUntil = 0;
};

// What the stored requests say of one start.
struct SignInStartStore::Read {
    bool stateInUse = false;
    RecentSignIns recent;
    // The open requests of the start's key that make way for it once the key holds as many as it
    // may (all but its newest that many less one).
    std::vector<QString> keyMakesWay;
    // Its network's open requests as stored, and as they would be once the key's made way.
    NetworkOpen network;
    NetworkOpen networkAfterKey;
};

qint64 SignInStartStore::networkLock(const QString& network)
{
    const QByteArray digest
        = QCryptographicHash::hash("lumora sign-in starts " + network.toUtf8(), QCryptographicHash::Sha256);
    quint64 key = 0;
    for (int i = 0; i < 8; ++i)
        key = (key << 8) | static_cast<unsigned char>(digest.at(i));
    return static_cast<qint64>(key);
}

SignInStartStore::SignInStartStore(const ControlPlaneStore& store, SignInLimits limits, qint64 lifetime)
    : m_store(store)
    , m_limits(limits)
    , m_lifetime(lifetime)
{
}

SignInStartStore::Read SignInStartStore::read(const SignInStart& start) const
{
    const qint64 now = start.request.createdAt;
    const QString& address = start.source.address;
    const QString& network = start.source.network;
    QVariantList values { start.request.state };
    QString sql = QStringLiteral("SELECT EXISTS (SELECT 1 FROM sign_in_requests WHERE state = ?)");
    const QString ofAddress = QStringLiteral("client_address = ? AND");
    const QString ofNetwork = QStringLiteral("client_network = ? AND");
    sql += ", " + newest(values, ofAddress, { address }, m_limits.perAddress, minute, now);
    sql += ", " + newest(values, ofAddress, { address }, 1, minute, now);
    sql += ", " + newest(values, ofNetwork, { network }, m_limits.perNetwork, minute, now);
    sql += ", " + newest(values, ofNetwork, { network }, 2 * qint64(m_limits.perNetwork), minute, now);
    Statement bounds(m_store.connectionName(), sql, values);
    bounds.next();
    Read read;
    read.stateInUse = bounds.value(0).toBool();
    read.recent = { timeIn(bounds, 1), timeIn(bounds, 2), timeIn(bounds, 3), timeIn(bounds, 4) };
    Statement key(m_store.connectionName(),
        "SELECT id FROM sign_in_requests WHERE device_public_key = ? AND " + openRequest
            + " created_at > ? ORDER BY created_at DESC, id DESC LIMIT ?",
        { start.request.devicePublicKey, now - m_lifetime, qint64(m_limits.openPerKey) + 16 });
    for (int count = 1; key.next(); ++count)
        if (count >= m_limits.openPerKey)
            read.keyMakesWay.push_back(key.value(0).toString());
    read.network = networkOpen(network, now);
    read.networkAfterKey = read.network;
    if (!read.keyMakesWay.empty()) {
        std::vector<OpenRequest> open = read.network.requests;
        std::erase_if(open, [&](const OpenRequest& made) {
            return std::ranges::find(read.keyMakesWay, made.id) != read.keyMakesWay.end();
        });
        read.networkAfterKey = heldBy(std::move(open));
        read.networkAfterKey.allUntil = read.network.allUntil;
    }
    return read;
}

SignInStartStore::NetworkOpen SignInStartStore::heldBy(std::vector<OpenRequest> requests) const
{
    struct Held {
        int count = 0;
        const OpenRequest* oldest = nullptr;
    };
    std::map<QString, Held> byAddress;
    NetworkOpen held;
    int count = 0;
    for (const OpenRequest& request : requests) {
        const qint64 until = request.at + m_lifetime;
        if (++count == m_limits.openPerNetwork)
            held.holding.shareUntil = until;
        if (count == m_limits.openPerKey) {
            held.holding.keyShareUntil = until;
            held.holdsKeyShare = true;
        }
        Held& ofAddress = byAddress[request.address];
        if (++ofAddress.count == m_limits.openPerKey)
            held.holding.partUntil.insert(request.address, until);
        ofAddress.oldest = &request;
    }
    const auto most = std::ranges::max_element(byAddress, [](const auto& a, const auto& b) {
        return std::pair(a.second.count, -a.second.oldest->at)
            < std::pair(b.second.count, -b.second.oldest->at);
    });
    if (most != byAddress.end())
        held.oldestOfMost = most->second.oldest->id;
    held.requests = std::move(requests);
    return held;
}

SignInStartStore::NetworkOpen SignInStartStore::networkOpen(const QString& network, qint64 now) const
{
    // What the bounds let a network hold, and as much as one address may more, newest first.
    Statement open(m_store.connectionName(),
        "SELECT id, client_address, created_at FROM sign_in_requests WHERE client_network = ? AND "
            + openRequest + " created_at > ? ORDER BY created_at DESC, id DESC LIMIT ?",
        { network, now - m_lifetime, qint64(m_limits.openPerNetwork) + m_limits.openPerKey });
    std::vector<OpenRequest> requests;
    while (open.next())
        requests.push_back(
            { open.value(0).toString(), open.value(1).toString(), open.value(2).toLongLong() });
    NetworkOpen held = heldBy(std::move(requests));
    // The bound in all holds only a network that holds as many as one key may, and is read only
    // for one: through as many index entries as the bound.
    if (held.holdsKeyShare) {
        QVariantList values;
        Statement all(m_store.connectionName(),
            "SELECT " + newest(values, openRequest, {}, m_limits.open, m_lifetime, now), values);
        all.next();
        if (const auto bound = timeIn(all, 0))
            held.allUntil = *bound + m_lifetime;
    }
    return held;
}

SignInDecision SignInStartStore::decide(const Read& read, const SignInStart& start) const
{
    const qint64 now = start.request.createdAt;
    SignInDecision decision { {}, read.network.holding, read.network.allUntil };
    const auto refuse = [&](SignInRequestRefusal::Reason reason, qint64 wait) {
        decision.outcome = std::unexpected(SignInRequestRefusal { reason, wait });
        return decision;
    };
    if (read.stateInUse)
        return refuse(SignInRequestRefusal::Reason::stateInUse, 0);
    const auto heldFor = [&](const NetworkOpen& network) {
        return std::max<qint64>(network.holding.heldUntil(start.source.address, network.allUntil) - now, 0);
    };
    // A start the rates refuse is told the longest of every wait (none shortened by what it would
    // supersede); one that passes them may pass the open bounds by superseding its key's oldest.
    if (const qint64 rated = read.recent.wait(now); rated > 0)
        return refuse(SignInRequestRefusal::Reason::tooMany, std::max(rated, heldFor(read.network)));
    if (const qint64 held = heldFor(read.networkAfterKey); held > 0)
        return refuse(SignInRequestRefusal::Reason::tooMany, held);
    return decision;
}

SignInDecision SignInStartStore::check(const SignInStart& start) const
{
    return decide(read(start), start);
}

SignInDecision SignInStartStore::take(const SignInStart& start) const
{
    const QString& connection = m_store.connectionName();
    const SignInRequestRecord& request = start.request;
    const qint64 now = request.createdAt;
    const Read read = this->read(start);
    SignInDecision decision = decide(read, start);
    if (!decision.outcome)
        return decision;
    // The index on the state holds whatever ran past the check above; nothing is written before.
    Statement insert(connection,
        QStringLiteral("INSERT INTO sign_in_requests (id, device_public_key, platform, created_at, state,"
                       " client_address, client_network) VALUES (?, ?, ?, ?, ?, ?, ?)"
                       " ON CONFLICT (state) DO NOTHING"),
        { idText(request.id), request.devicePublicKey, request.platform, now, request.state,
            start.source.address, start.source.network });
    if (insert.rowsAffected() != 1) {
        decision.outcome
            = std::unexpected(SignInRequestRefusal { SignInRequestRefusal::Reason::stateInUse, 0 });
        return decision;
    }
    // A person who gives up on the browser page and starts again is never refused for the
    // attempts left behind: once the key holds as many as it may, its oldest open requests make
    // way (only a start naming the same key does this). Within a network at its share, an address
    // holding less than its part is taken at the cost of the address holding most, so that no
    // address, or few, keep the others out.
    std::vector<QString> makingWay = read.keyMakesWay;
    std::vector<OpenRequest> open = read.networkAfterKey.requests;
    const NetworkOpen& network = read.networkAfterKey;
    if (network.holding.fullUntil(network.allUntil) > now && network.oldestOfMost) {
        makingWay.push_back(*network.oldestOfMost);
        std::erase_if(open, [&](const OpenRequest& made) { return made.id == *network.oldestOfMost; });
    }
    for (const QString& id : makingWay)
        Statement(connection,
            QStringLiteral(
                "UPDATE sign_in_requests SET superseded_at = ? WHERE id = ? AND redeemed_at IS NULL"
                " AND superseded_at IS NULL"),
            { now, id });
    // What the network holds now, for whoever remembers it until its next start (the bound in all
    // as it was read a moment before).
    open.insert(open.begin(), OpenRequest { idText(request.id), start.source.address, now });
    decision.holding = heldBy(std::move(open)).holding;
    return decision;
}

std::vector<std::optional<SignInDecision>> SignInStartStore::add(
    const QList<SignInStart>& starts, NetworkTurn turn) const
{
    const QString& connection = m_store.connectionName();
    std::vector<std::optional<SignInDecision>> decisions(static_cast<std::size_t>(starts.size()));
    Transaction transaction(connection);
    // On PostgreSQL the starts of a network take their turn on every instance, so that each one
    // counts those before it; SQLite's transaction holds the database for itself anyway. Taken in
    // the order of their numbers, so that instances that wait for each other never wait in a
    // circle.
    std::set<QString> held;
    if (isSqlite(m_store)) {
        for (const SignInStart& start : starts)
            held.insert(start.source.network);
    } else {
        std::map<qint64, QString> locks;
        for (const SignInStart& start : starts)
            locks.emplace(networkLock(start.source.network), start.source.network);
        for (const auto& [lock, network] : locks) {
            if (turn == NetworkTurn::wait) {
                Statement(connection, QStringLiteral("SELECT pg_advisory_xact_lock(?)"), { lock });
                held.insert(network);
                continue;
            }
            Statement tried(connection, QStringLiteral("SELECT pg_try_advisory_xact_lock(?)"), { lock });
            if (tried.next() && tried.value(0).toBool())
                held.insert(network);
        }
    }
    qint64 now = 0;
    for (qsizetype i = 0; i < starts.size(); ++i) {
        const SignInStart& start = starts.at(i);
        now = std::max(now, start.request.createdAt);
        if (held.contains(start.source.network))
            decisions[static_cast<std::size_t>(i)] = take(start);
    }
    for (const QString& network : held)
        forgetFinished(m_store, now, m_lifetime, network);
    transaction.commit();
    return decisions;
}

void SignInStartStore::forgetFinished(
    const ControlPlaneStore& store, qint64 now, qint64 lifetime, const QString& network)
{
    // Past the rates' minute, a request leads nowhere once it is redeemed or superseded, or once
    // its ticket, or without one its page, has lapsed.
    QVariantList values;
    QString sql = QStringLiteral("DELETE FROM sign_in_requests WHERE ");
    if (!network.isEmpty()) {
        sql += QStringLiteral("client_network = ? AND ");
        values << network;
    }
    sql += QStringLiteral("created_at <= ? AND (redeemed_at IS NOT NULL OR superseded_at IS NOT NULL"
                          " OR ticket_issued_at < ? OR (ticket_issued_at IS NULL AND created_at < ?))");
    values << now - minute << now - lifetime << now - lifetime;
    Statement(store.connectionName(), sql, values);
}

} // namespace lumora
