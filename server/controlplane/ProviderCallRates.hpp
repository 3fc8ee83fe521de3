#pragma once

#include <QString>
#include <QUuid>

namespace lumora {

class ControlPlaneStore;

// How many calls to the paid providers (speech grants, analyses, nudges) one reservation
// and one account may make in a minute.
struct ProviderCallRates {
    int perReservation = 30;
    int perAccount = 60;
};

// Counts the calls that reach a paid provider, by reservation and by account in each
// minute of the clock, in the database, so that every control plane on it counts the same
// calls. A call past either limit is refused and the caller answers without the provider.
class ProviderCallCounter {
public:
    ProviderCallCounter(ControlPlaneStore& store, ProviderCallRates limits);

    // Counts one call of the account under the reservation at `now`: false when it passes a limit.
    bool admit(const QUuid& accountID, const QUuid& reservationID, qint64 now);
    // Seconds until the minute of `now` ends, when a refused call may try again.
    static qint64 secondsToNextMinute(qint64 now);

private:
    // The calls counted for the key in the minute, this one included.
    qint64 count(const QUuid& accountID, const QString& reservation, qint64 minute);

    ControlPlaneStore& m_store;
    ProviderCallRates m_limits;
};

} // namespace lumora
