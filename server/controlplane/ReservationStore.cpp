#include "controlplane/ReservationStore.hpp"

#include "controlplane/IdText.hpp"
#include "controlplane/SqlStatement.hpp"

namespace lumora {

ReservationStore::ReservationStore(ControlPlaneStore& store)
    : m_connection(store.connectionName())
{
}

std::optional<ConversationSessionRecord> ReservationStore::session(
    const QUuid& accountID, const QUuid& sessionID) const
{
    Statement row(m_connection,
        QStringLiteral(
            "SELECT id, status, expires_at FROM conversation_sessions WHERE id = ? AND account_id = ?"),
        { idText(sessionID), idText(accountID) });
    if (!row.next())
        return std::nullopt;
    return ConversationSessionRecord { QUuid::fromString(row.value(0).toString()), row.value(1).toString(),
        row.value(2).toLongLong() };
}

bool ReservationStore::addReservation(const UsageReservationRecord& reservation, qint64 now)
{
    Transaction transaction(m_connection);
    // A reservation left open past its expiry no longer holds the session.
    Statement(m_connection,
        QStringLiteral("UPDATE usage_reservations SET status = 'expired', closed_at = ?"
                       " WHERE session_id = ? AND status = 'open' AND expires_at <= ?"),
        { now, idText(reservation.sessionID), now });
    Statement open(m_connection,
        QStringLiteral("SELECT COUNT(*) FROM usage_reservations WHERE session_id = ? AND status = 'open'"),
        { idText(reservation.sessionID) });
    if (open.next() && open.value(0).toLongLong() > 0)
        return false;
    // On PostgreSQL a reserve of the same session committed meanwhile is not counted above; the
    // one open reservation a session may have then keeps this one out, as the count would have.
    Statement insert(m_connection,
        QStringLiteral("INSERT INTO usage_reservations (id, account_id, session_id, maximum_seconds, status,"
                       " created_at, expires_at) VALUES (?, ?, ?, ?, 'open', ?, ?) ON CONFLICT DO NOTHING"),
        { idText(reservation.id), idText(reservation.accountID), idText(reservation.sessionID),
            reservation.maximumSeconds, reservation.createdAt, reservation.expiresAt });
    if (insert.rowsAffected() != 1)
        return false;
    transaction.commit();
    return true;
}

std::optional<UsageReservationRecord> ReservationStore::reservation(const QUuid& id) const
{
    Statement row(m_connection,
        QStringLiteral("SELECT id, account_id, session_id, maximum_seconds, status, created_at, expires_at,"
                       " actual_seconds FROM usage_reservations WHERE id = ?"),
        { idText(id) });
    if (!row.next())
        return std::nullopt;
    UsageReservationRecord record;
    record.id = QUuid::fromString(row.value(0).toString());
    record.accountID = QUuid::fromString(row.value(1).toString());
    record.sessionID = QUuid::fromString(row.value(2).toString());
    record.maximumSeconds = row.value(3).toDouble();
    record.status = row.value(4).toString();
    record.createdAt = row.value(5).toLongLong();
    record.expiresAt = row.value(6).toLongLong();
    if (!row.value(7).isNull())
        record.actualSeconds = row.value(7).toLongLong();
    return record;
}

bool ReservationStore::closeReservation(
    const QUuid& id, const QString& status, std::optional<qint64> actualSeconds, qint64 now)
{
    Statement update(m_connection,
        QStringLiteral("UPDATE usage_reservations SET status = ?, actual_seconds = ?, closed_at = ?"
                       " WHERE id = ? AND status = 'open'"),
        { status, actualSeconds ? QVariant(*actualSeconds) : QVariant(QMetaType(QMetaType::LongLong)), now,
            idText(id) });
    return update.rowsAffected() == 1;
}

void ReservationStore::addUsageReport(const UsageReportRecord& report, qint64 now)
{
    Statement(m_connection,
        QStringLiteral("INSERT INTO usage_reports (id, account_id, reservation_id, operation, model,"
                       " duration_seconds, latency_ms, status_code, estimated_cost_micros, received_at)"
                       " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        { idText(QUuid::createUuid()), idText(report.accountID), idText(report.reservationID),
            report.operation, report.model, report.durationSeconds, report.latencyMilliseconds,
            report.statusCode, report.estimatedCostMicros, now });
}

} // namespace lumora
