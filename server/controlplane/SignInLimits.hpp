#pragma once

#include <QHash>
#include <QString>
#include <expected>
#include <limits>
#include <optional>

namespace lumora {

// What the sign-in starts that anyone may make may store. Starts are rated by the client's
// address (an IPv6 one by its /64 prefix, which one machine commonly holds whole) and by its
// network (an IPv4 /24, an IPv6 /48); past its network's rate an address that started none in
// the last minute still starts one, up to twice the rate, so that the few addresses that use a
// network's rate keep no other address of it out for longer than a minute. Of the requests open
// at once (started within their lifetime, neither redeemed nor superseded) one device key keeps
// its newest: a further start with the key supersedes its oldest. One network holds a share of
// its own, and once `open` are open in all a network holds no more than one key may, so that no
// crowd of networks keeps the others out. Within a network that holds its share the addresses
// share it likewise: one holding less than its part (as many as one key may) is taken at the
// cost of the oldest open request of the address holding most.
struct SignInLimits {
    int perAddress = 10; // starts a minute
    int perNetwork = 60; // starts a minute
    int openPerKey = 5;
    int openPerNetwork = 60;
    int open = 10000;

    // No limit at all, for what adds requests of its own making.
    static SignInLimits unbounded()
    {
        constexpr int any = std::numeric_limits<int>::max();
        return { any, any, any, any, any };
    }
};

// The seconds of the window in which the rates count starts.
inline constexpr qint64 signInRateWindow = 60;

// Where a sign-in start comes from, as SignInLimits counts it.
struct SignInSource {
    QString address;
    QString network;
};

struct SignInRequestRefusal {
    enum class Reason {
        stateInUse, // a request kept (one that may still lead somewhere) carries its state
        tooMany, // past a limit of SignInLimits
    };
    Reason reason = Reason::tooMany;
    // For `tooMany`: in how many seconds the requests already stored let the same start through.
    qint64 retryAfter = 0;
};

using SignInOutcome = std::expected<void, SignInRequestRefusal>;

// The starts of the last minute that decide whether one more from an address passes the rates,
// by their times (Unix seconds): of the address, its `perAddress`-th newest and its newest; of
// its network, its `perNetwork`-th and twice that newest. None where there are fewer.
struct RecentSignIns {
    std::optional<qint64> addressBound;
    std::optional<qint64> addressNewest;
    std::optional<qint64> networkBound;
    std::optional<qint64> networkExtraBound;

    // In how many seconds from `now` the rates let the start through (0: at once).
    [[nodiscard]] qint64 wait(qint64 now) const;
};

// What keeps the starts of one network out for the requests it holds open, by the requests stored
// at one moment, as times (Unix seconds) until which each bound holds; a time past holds nothing.
struct SignInHolding {
    // While the network holds its share.
    qint64 shareUntil = 0;
    // While it holds as many as one key may: its share once the bound in all is reached.
    qint64 keyShareUntil = 0;
    // The addresses holding their part (as many as one key may) or more, each while it does.
    QHash<QString, qint64> partUntil;

    // Until when the network is at its share, while the bound in all holds until `allUntil`.
    [[nodiscard]] qint64 fullUntil(qint64 allUntil) const;
    // Until when a start from `address` is kept out: while the network is at its share and the
    // address holds its part (one holding less is taken at the cost of the address holding most).
    [[nodiscard]] qint64 heldUntil(const QString& address, qint64 allUntil) const;
};

} // namespace lumora
