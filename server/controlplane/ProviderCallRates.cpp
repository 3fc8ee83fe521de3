#include "controlplane/ProviderCallRates.hpp"

#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/IdText.hpp"
#include "controlplane/SqlStatement.hpp"

namespace lumora {

namespace {

constexpr qint64 minute = 60;

// Minutes counted from the epoch, also for times before it.
qint64 minuteOf(qint64 time)
{
    return time >= 0 ? time / minute : (time - minute + 1) / minute;
}

} // namespace

ProviderCallCounter::ProviderCallCounter(ControlPlaneStore& store, ProviderCallRates limits)
    : m_store(store)
    , m_limits(limits)
{
}

qint64 ProviderCallCounter::secondsToNextMinute(qint64 now)
{
    return (minuteOf(now) + 1) * minute - now;
}

bool ProviderCallCounter::admit(const QUuid& accountID, const QUuid& reservationID, qint64 now)
{
    const qint64 current = minuteOf(now);
    // The account's own count has no reservation.
    return count(accountID, idText(reservationID), current) <= m_limits.perReservation
        && count(accountID, QStringLiteral(""), current) <= m_limits.perAccount;
}

qint64 ProviderCallCounter::count(const QUuid& accountID, const QString& reservation, qint64 minute)
{
    const QString& connection = m_store.connectionName();
    const qint64 calls = [&] {
        Statement counted(connection,
            QStringLiteral(
                "INSERT INTO provider_calls (account_id, reservation_id, minute, calls) VALUES (?, ?, ?, 1)"
                " ON CONFLICT (account_id, reservation_id, minute) DO UPDATE"
                " SET calls = provider_calls.calls + 1 RETURNING calls"),
            { idText(accountID), reservation, minute });
        return counted.next() ? counted.value(0).toLongLong() : 0;
    }();
    // The first call of a minute forgets the account's earlier minutes, those of its ended
    // reservations too: only the current minute is ever read.
    if (calls == 1)
        Statement(connection,
            QStringLiteral("DELETE FROM provider_calls WHERE account_id = ? AND minute < ?"),
            { idText(accountID), minute });
    return calls;
}

} // namespace lumora
