#pragma once

#include "controlplane/ControlPlaneStore.hpp"

#include <QString>
#include <QUuid>
#include <optional>

namespace lumora {

struct UsageReservationRecord {
    QUuid id;
    QUuid accountID;
    QUuid sessionID;
    double maximumSeconds = 0;
    QString status; // "open", "finalized" or "cancelled"
    qint64 createdAt = 0;
    qint64 expiresAt = 0; // an open reservation lapses here
    std::optional<qint64> actualSeconds;
};

struct UsageReportRecord {
    QUuid accountID;
    QUuid reservationID;
    QString operation;
    QString model;
    qint64 durationSeconds = 0;
    qint64 latencyMilliseconds = 0;
    qint64 statusCode = 0;
    qint64 estimatedCostMicros = 0;
};

// Usage reservations of conversations and the provider usage reported against them, on
// the control plane's connection.
class ReservationStore {
public:
    explicit ReservationStore(ControlPlaneStore& store);

    // The conversation session `sessionID` when it belongs to the account.
    std::optional<ConversationSessionRecord> session(const QUuid& accountID, const QUuid& sessionID) const;
    // Adds an open reservation unless the session already has one that has not lapsed;
    // false then, and nothing is stored.
    bool addReservation(const UsageReservationRecord& reservation, qint64 now);
    std::optional<UsageReservationRecord> reservation(const QUuid& id) const;
    // Closes an open reservation with `status`; false when it was already closed.
    bool closeReservation(
        const QUuid& id, const QString& status, std::optional<qint64> actualSeconds, qint64 now);
    void addUsageReport(const UsageReportRecord& report, qint64 now);

private:
    QString m_connection;
};

} // namespace lumora
