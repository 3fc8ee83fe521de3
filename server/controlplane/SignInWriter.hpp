#pragma once

#include "controlplane/SignInLimits.hpp"
#include "controlplane/SignInStartStore.hpp"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace lumora {

// Decides the sign-in starts of every request thread of the process on threads and database
// connections of its own (one on SQLite, which writes one transaction at a time; on PostgreSQL a
// few, each with the networks that are its own), so that no thread that serves requests waits
// for the database's work on them. A start that the rates refuse is refused at once from what
// this process has taken (see TakenSignIns.hpp). The others wait in turn by network, and within
// a network by address, so that one network's queue never delays another's beyond a start each:
// a writer takes one start of each network (of each address) in turn, as many together as one
// transaction holds, and decides first without a lock or a write whether each may pass. On
// PostgreSQL it never waits for another instance deciding a network's starts; that network's
// wait their turn again. How many wait is bounded by the connections a client address and the
// server may hold, each of which has at most one request under way.
class SignInWriter {
public:
    // The outcome of a start, nullopt when the database failed (nothing was stored then).
    using Decided = std::function<void(std::optional<SignInOutcome>)>;
    static constexpr qsizetype largestBatch = 32;
    // On PostgreSQL, where a start costs its writer some ten round trips to the database and
    // writers of different networks do not wait for one another.
    static constexpr int postgresqlWriters = 4;

    // `databaseUrl` names a database whose schema is in place; requests are open for `lifetime`
    // seconds; `clock` gives Unix seconds.
    SignInWriter(
        const QString& databaseUrl, SignInLimits limits, qint64 lifetime, std::function<qint64()> clock);
    // Decides what was queued before, then stops.
    ~SignInWriter();
    SignInWriter(const SignInWriter&) = delete;
    SignInWriter& operator=(const SignInWriter&) = delete;

    // Refuses `request` from `source` at once when what this process has taken proves it, waiting
    // for nothing; else queues it and calls `decided` on the writer's thread once it is decided.
    // The request is stored with the time of its decision.
    std::optional<SignInRequestRefusal> start(
        SignInRequestRecord request, SignInSource source, Decided decided);
    // A request of `network` was redeemed.
    void redeemed(const QString& network);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace lumora
