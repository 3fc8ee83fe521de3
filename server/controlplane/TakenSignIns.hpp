#pragma once

#include "controlplane/SignInLimits.hpp"
#include "controlplane/SignInStartStore.hpp"

#include <QHash>
#include <QString>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace lumora {

// The sign-in starts this process has taken in the last minute, by network, and what the database
// said of each such network's open requests at its last start decided here: enough to refuse a
// start that the rates refuse without asking the database. Every start counted here is stored
// (requests are kept while the rates count them, by clocks that agree), so that what it counts
// never exceeds what the database holds and a refusal from it holds; the database decides every
// start that may pass, across instances. A refusal says when the same start passes by the rates
// and by the network's open requests as its last decision here found them (which, on one
// instance, only a redemption since changes, when it is forgotten and the database asked again,
// or the bound in all as other networks fill it). Thread-safe; a few microseconds under one lock,
// never a wait.
class TakenSignIns {
public:
    explicit TakenSignIns(SignInLimits limits);

    // The refusal of a start from `source` at `now` that the starts taken here prove, with its
    // wait; nullopt when only the database can tell.
    [[nodiscard]] std::optional<SignInRequestRefusal> refusal(const SignInSource& source, qint64 now) const;
    // What the database decided of a start from `source` at `now`.
    void decided(const SignInSource& source, qint64 now, const SignInDecision& decision);
    // A request of `network` was redeemed: what its open requests hold is known no longer.
    void changed(const QString& network);

private:
    struct Found {
        SignInHolding holding;
        qint64 allUntil = 0;
    };
    struct Network {
        // Oldest first, with their addresses.
        std::deque<std::pair<qint64, QString>> starts;
        std::optional<Found> found;
    };

    SignInLimits m_limits;
    mutable std::mutex m_lock;
    QHash<QString, Network> m_networks;
    // Every start counted, oldest first, by its network: to forget them as they leave the minute.
    std::deque<std::pair<qint64, QString>> m_order;
};

} // namespace lumora
