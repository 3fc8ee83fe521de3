#pragma once

#include "providers/AccountRecords.hpp"
#include "providers/ProviderFailure.hpp"

#include <QUuid>
#include <expected>
#include <qcoro/qcorotask.h>

namespace lumora {

// Reserves, finalizes and cancels the usage reservation of one conversation.
class SessionAuthorizationProvider {
public:
    virtual ~SessionAuthorizationProvider() = default;

    // A reservation for the server-side session `sessionID` covering up to
    // `requestedSeconds` of recording; its `maximumSeconds` is the recording cap.
    [[nodiscard]] virtual QCoro::Task<std::expected<UsageReservation, ProviderFailure>> reserve(
        QUuid sessionID, double requestedSeconds) const = 0;
    // Closes the reservation with the whole seconds actually recorded.
    [[nodiscard]] virtual QCoro::Task<std::expected<void, ProviderFailure>> finalize(
        QUuid reservationID, qint64 actualSeconds) const = 0;
    // Releases a reservation that will not be finalized. Never fails: clean-up paths call
    // it without handling anything. True once nothing of it is left open on the server
    // (released now, or already closed, lapsed or unknown there); false when that is not
    // known, as without an answer, and a later cancel should try again.
    virtual QCoro::Task<bool> cancel(QUuid reservationID) const = 0;
};

} // namespace lumora
