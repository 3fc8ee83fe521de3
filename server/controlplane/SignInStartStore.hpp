#pragma once

#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/SignInLimits.hpp"

#include <QList>
#include <optional>
#include <vector>

namespace lumora {

// A sign-in start to decide: the request it would store and where it comes from.
struct SignInStart {
    SignInRequestRecord request;
    SignInSource source;
};

// What the stored requests said of a start: its outcome, and what they held its network to when
// it was decided (after it, when it was taken), as of the same moment.
struct SignInDecision {
    SignInOutcome outcome;
    SignInHolding holding;
    // Until when the bound in all is reached (a time past when it is not); read only for a network
    // holding as many as one key may, the only one it holds.
    qint64 allUntil = 0;
};

// Whether a start waits for another instance deciding starts of its network.
enum class NetworkTurn {
    wait,
    skipBusy, // it is left undecided instead
};

// The sign-in starts that anyone may make, decided against SignInLimits by the requests stored
// on the store's connection, on every instance of the database. A start is refused when a
// request kept carries its state, or it would pass a limit; nothing is added or superseded then.
// Each start's request is stored with its time (the request's `createdAt`, the decision's now).
//
// A request is kept while it may still lead somewhere (open, or with a ticket that can still be
// redeemed) and while the rates count it (a minute): no longer. So a network keeps at most its
// open requests, those whose tickets are still good (no more than it held open the ten minutes
// before), and its starts of the last minute, whatever it starts; and a state is never taken by
// another attempt while a ticket issued for it can be redeemed.
class SignInStartStore {
public:
    // Requests are open for `lifetime` seconds after their start.
    SignInStartStore(const ControlPlaneStore& store, SignInLimits limits, qint64 lifetime);

    // What the stored requests say of `start` at once, read without a lock or a write: a refusal,
    // or (an outcome without error) that it may be taken. Throws StoreFailure.
    [[nodiscard]] SignInDecision check(const SignInStart& start) const;
    // Decides `starts` in order in one transaction, each as check() would at its turn, and takes
    // those that pass (a refused one writes nothing, whatever it would have superseded). Starts
    // of one network are decided one after the other on every instance, those of different
    // networks at once; with NetworkTurn::skipBusy a start whose network another instance is
    // deciding at the moment is left undecided (nullopt). Forgets the requests of the starts'
    // networks that can no longer lead anywhere. Throws StoreFailure (and then decides nothing).
    std::vector<std::optional<SignInDecision>> add(
        const QList<SignInStart>& starts, NetworkTurn turn = NetworkTurn::wait) const;

    // Forgets the requests that can no longer lead anywhere and that the rates no longer count at
    // `now`: of `network`, or of every network when it is empty.
    static void forgetFinished(
        const ControlPlaneStore& store, qint64 now, qint64 lifetime, const QString& network = {});

    // The number of the PostgreSQL advisory lock that orders the starts of `network` on every
    // instance.
    static qint64 networkLock(const QString& network);

private:
    struct OpenRequest;
    struct NetworkOpen;
    struct Read;

    [[nodiscard]] Read read(const SignInStart& start) const;
    [[nodiscard]] NetworkOpen networkOpen(const QString& network, qint64 now) const;
    [[nodiscard]] NetworkOpen heldBy(std::vector<OpenRequest> requests) const;
    [[nodiscard]] SignInDecision decide(const Read& read, const SignInStart& start) const;
    [[nodiscard]] SignInDecision take(const SignInStart& start) const;

    const ControlPlaneStore& m_store;
    SignInLimits m_limits;
    qint64 m_lifetime;
};

} // namespace lumora
