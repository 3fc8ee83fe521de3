#include "controlplane/PairingStore.hpp"

#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/IdText.hpp"
#include "controlplane/SqlStatement.hpp"
#include "domain/PairingCode.hpp"

#include <QVariant>

namespace lumora {

namespace {

const QString inviteColumns = QStringLiteral(
    "id, account_id, code, policy_version, status, created_at, expires_at, redeemed_by, confirm_expires_at");

PairingInviteRecord readInvite(const Statement& row)
{
    PairingInviteRecord invite;
    invite.id = QUuid::fromString(row.value(0).toString());
    invite.accountID = QUuid::fromString(row.value(1).toString());
    invite.code = row.value(2).toString();
    invite.policyVersion = row.value(3).toString();
    invite.status = row.value(4).toString();
    invite.createdAt = row.value(5).toLongLong();
    invite.expiresAt = row.value(6).toLongLong();
    if (!row.value(7).isNull())
        invite.redeemedBy = QUuid::fromString(row.value(7).toString());
    if (!row.value(8).isNull())
        invite.confirmExpiresAt = row.value(8).toLongLong();
    return invite;
}

std::optional<qint64> optionalSeconds(const QVariant& value)
{
    return value.isNull() ? std::nullopt : std::optional(value.toLongLong());
}

std::optional<PairingInviteRecord> firstInvite(Statement& row)
{
    if (!row.next())
        return std::nullopt;
    return readInvite(row);
}

} // namespace

PairingStore::PairingStore(ControlPlaneStore& store)
    : m_connection(store.connectionName())
{
}

std::optional<PairingInviteRecord> PairingStore::invite(const QUuid& id) const
{
    Statement row(
        m_connection, "SELECT " + inviteColumns + " FROM pairing_invites WHERE id = ?", { idText(id) });
    return firstInvite(row);
}

std::optional<PairingInviteRecord> PairingStore::inviteWithCode(const QString& code) const
{
    Statement row(m_connection,
        "SELECT " + inviteColumns + " FROM pairing_invites WHERE code = ? ORDER BY created_at DESC LIMIT 1",
        { code });
    return firstInvite(row);
}

void PairingStore::addInvite(const PairingInviteRecord& invite)
{
    Transaction transaction(m_connection);
    Statement(m_connection,
        QStringLiteral("UPDATE pairing_invites SET status = 'cancelled' WHERE account_id = ?"
                       " AND status IN ('open', 'pending_confirmation')"),
        { idText(invite.accountID) });
    Statement(m_connection,
        "INSERT INTO pairing_invites (" + inviteColumns + ") VALUES (?, ?, ?, ?, 'open', ?, ?, NULL, NULL)",
        { idText(invite.id), idText(invite.accountID), invite.code, invite.policyVersion, invite.createdAt,
            invite.expiresAt });
    transaction.commit();
}

bool PairingStore::redeem(const QUuid& inviteID, const QUuid& redeemer, qint64 now, qint64 confirmExpiresAt)
{
    Statement update(m_connection,
        QStringLiteral("UPDATE pairing_invites SET status = 'pending_confirmation', redeemed_by = ?,"
                       " redeemed_at = ?, confirm_expires_at = ? WHERE id = ? AND status = 'open'"),
        { idText(redeemer), now, confirmExpiresAt, idText(inviteID) });
    return update.rowsAffected() == 1;
}

std::optional<PairingInviteRecord> PairingStore::outstandingInvite(const QUuid& accountID, qint64 now) const
{
    Statement row(m_connection,
        "SELECT " + inviteColumns
            + " FROM pairing_invites WHERE account_id = ? AND ((status = 'open' AND expires_at > ?)"
              " OR (status = 'pending_confirmation' AND confirm_expires_at > ?))"
              " ORDER BY created_at DESC LIMIT 1",
        { idText(accountID), now, now });
    return firstInvite(row);
}

std::optional<PairingInviteRecord> PairingStore::pendingConfirmation(const QUuid& accountID, qint64 now) const
{
    Statement row(m_connection,
        "SELECT " + inviteColumns
            + " FROM pairing_invites WHERE redeemed_by = ? AND status = 'pending_confirmation'"
              " AND confirm_expires_at > ? ORDER BY confirm_expires_at DESC LIMIT 1",
        { idText(accountID), now });
    return firstInvite(row);
}

CurrentWorkspaceRecord PairingStore::currentWorkspace(const QUuid& accountID) const
{
    const QString account = idText(accountID);
    Statement row(m_connection,
        QStringLiteral(
            "SELECT w.id, w.linked_at,"
            " (SELECT COUNT(*) FROM workspace_members c WHERE c.workspace_id = w.id AND c.left_at IS NULL),"
            " (SELECT MAX(p.joined_at) FROM workspace_members p WHERE p.workspace_id = w.id"
            "  AND p.left_at IS NULL)"
            " FROM workspace_members m JOIN workspaces w ON w.id = m.workspace_id"
            " WHERE m.account_id = ? AND m.left_at IS NULL"),
        { account });
    if (!row.next())
        return CurrentWorkspaceRecord { account, 1, std::nullopt, std::nullopt };
    // The partner joined when the second of the two did, whichever of them asks.
    const qint64 members = row.value(2).toLongLong();
    return CurrentWorkspaceRecord { row.value(0).toString(), members, optionalSeconds(row.value(1)),
        members > 1 ? optionalSeconds(row.value(3)) : std::nullopt };
}

QList<PreviousWorkspaceRecord> PairingStore::previousWorkspaces(const QUuid& accountID) const
{
    Statement row(m_connection,
        QStringLiteral("SELECT w.id, COALESCE(w.linked_at, w.created_at), m.left_at,"
                       " (SELECT COUNT(*) FROM workspace_members c WHERE c.workspace_id = w.id)"
                       " FROM workspace_members m JOIN workspaces w ON w.id = m.workspace_id"
                       " WHERE m.account_id = ? AND m.left_at IS NOT NULL"
                       // In the order they were left. Times are in seconds: of two left in the
                       // same second, the one joined first, and of two also joined in it, the one
                       // never linked, which is left only to join a linked one.
                       " ORDER BY m.left_at, m.joined_at, w.linked_at IS NOT NULL, w.created_at"),
        { idText(accountID) });
    QList<PreviousWorkspaceRecord> workspaces;
    while (row.next())
        workspaces.append(PreviousWorkspaceRecord { row.value(0).toString(), row.value(1).toLongLong(),
            row.value(2).toLongLong(), row.value(3).toLongLong() });
    return workspaces;
}

WorkspaceHistoryRecord PairingStore::workspaceHistory(const QString& workspaceID) const
{
    Statement row(m_connection,
        QStringLiteral("SELECT COUNT(*), MIN(started_at), MAX(started_at) FROM content_conversations WHERE "
                       "workspace_id = ?"),
        { workspaceID });
    WorkspaceHistoryRecord history;
    if (!row.next())
        return history;
    history.conversationCount = row.value(0).toLongLong();
    if (!row.value(1).isNull())
        history.earliestStartedAt = row.value(1).toLongLong();
    if (!row.value(2).isNull())
        history.latestStartedAt = row.value(2).toLongLong();
    return history;
}

bool PairingStore::link(const PairingInviteRecord& invite, qint64 now)
{
    if (!invite.redeemedBy)
        return false;
    Transaction transaction(m_connection);
    Statement confirm(m_connection,
        QStringLiteral("UPDATE pairing_invites SET status = 'confirmed', confirmed_at = ?"
                       " WHERE id = ? AND status = 'pending_confirmation'"),
        { now, idText(invite.id) });
    if (confirm.rowsAffected() != 1)
        return false;
    const QString inviter = idText(invite.accountID);
    const QString redeemer = idText(*invite.redeemedBy);
    Statement(m_connection,
        QStringLiteral("UPDATE pairing_invites SET status = 'cancelled' WHERE status IN ('open',"
                       " 'pending_confirmation') AND (account_id IN (?, ?) OR redeemed_by IN (?, ?))"),
        { inviter, redeemer, inviter, redeemer });

    // The partner who redeemed the code joins the inviter's workspace: its conversations are
    // the history the redemption showed, now shared. The joiner's own workspace becomes an
    // earlier one, which it keeps reading.
    leaveCurrentWorkspace(*invite.redeemedBy, now);
    const QString shared = writeOutCurrentWorkspace(invite.accountID);
    Statement(
        m_connection, QStringLiteral("UPDATE workspaces SET linked_at = ? WHERE id = ?"), { now, shared });
    addMember(shared, *invite.redeemedBy, now);
    transaction.commit();
    return true;
}

void PairingStore::unlink(const QUuid& accountID, qint64 now)
{
    const QString workspace = currentWorkspace(accountID).id;
    Transaction transaction(m_connection);
    QList<QUuid> members;
    Statement row(m_connection,
        QStringLiteral("SELECT account_id FROM workspace_members WHERE workspace_id = ? AND left_at IS NULL"),
        { workspace });
    while (row.next())
        members.append(QUuid::fromString(row.value(0).toString()));
    for (const QUuid& member : members)
        startAnew(member, now);
    transaction.commit();
}

void PairingStore::releasePartnersOf(const QUuid& leaving, qint64 now)
{
    Statement row(m_connection,
        QStringLiteral("SELECT account_id FROM workspace_members WHERE workspace_id = ? AND left_at IS NULL"
                       " AND account_id <> ?"),
        { currentWorkspace(leaving).id, idText(leaving) });
    QList<QUuid> partners;
    while (row.next())
        partners.append(QUuid::fromString(row.value(0).toString()));
    for (const QUuid& partner : partners)
        startAnew(partner, now);
}

void PairingStore::releaseKeepersOfDeletedPartners(qint64 now)
{
    struct Member {
        QUuid account;
        qint64 joinedAt = 0;
        bool current = false;
    };
    struct Workspace {
        QString id;
        qint64 createdAt = 0;
        QList<Member> members; // by the time they joined
    };
    QList<Workspace> linked;
    {
        Statement rows(m_connection,
            QStringLiteral("SELECT w.id, w.created_at, m.account_id, m.joined_at, m.left_at FROM workspaces w"
                           " JOIN workspace_members m ON m.workspace_id = w.id WHERE w.linked_at IS NOT NULL"
                           " ORDER BY w.id, m.joined_at, m.account_id"));
        while (rows.next()) {
            if (linked.isEmpty() || linked.last().id != rows.value(0).toString())
                linked.append({ rows.value(0).toString(), rows.value(1).toLongLong(), {} });
            linked.last().members.append({ QUuid::fromString(rows.value(2).toString()),
                rows.value(3).toLongLong(), rows.value(4).isNull() });
        }
    }
    for (const Workspace& workspace : linked) {
        // Two accounts at most were ever in it together, and a member's rows go only with its
        // account: one alone, no row of whoever made it (who joined as it was made), or an invite
        // of a member, confirmed while it was in it, whose redeemer is gone tell a deleted one.
        const Member& keeper = workspace.members.first();
        Statement goneInvitee(m_connection,
            QStringLiteral(
                "SELECT 1 FROM pairing_invites i JOIN workspace_members m ON m.account_id = i.account_id"
                " WHERE m.workspace_id = ? AND i.status = 'confirmed' AND i.confirmed_at >= m.joined_at"
                " AND (m.left_at IS NULL OR i.confirmed_at <= m.left_at)"
                " AND i.redeemed_by IS NOT NULL AND NOT EXISTS (SELECT 1 FROM accounts a WHERE a.id = "
                "i.redeemed_by)"),
            { workspace.id });
        const bool partnerGone
            = workspace.members.size() == 1 || keeper.joinedAt != workspace.createdAt || goneInvitee.next();
        if (!partnerGone)
            continue;
        if (workspace.members.size() == 1) {
            if (keeper.current)
                startAnew(keeper.account, now);
            continue;
        }
        // A next partner joined it since: what was there before it came is the keeper's
        // earlier history, in a workspace of its own that the keeper left as the partner came.
        const qint64 nextJoined = workspace.members.last().joinedAt;
        if (nextJoined == keeper.joinedAt)
            continue; // who came first cannot be told
        const QString earlier = idText(QUuid::createUuid());
        openWorkspace(earlier, keeper.joinedAt, std::nullopt);
        Statement(m_connection,
            QStringLiteral("INSERT INTO workspace_members (workspace_id, account_id, joined_at, left_at)"
                           " VALUES (?, ?, ?, ?)"),
            { earlier, idText(keeper.account), keeper.joinedAt, nextJoined });
        Statement(m_connection,
            QStringLiteral("UPDATE content_conversations SET workspace_id = ? WHERE workspace_id = ? AND "
                           "created_at < ?"),
            { earlier, workspace.id, nextJoined });
        // Only the keeper sees them now: a request of anyone else has nobody to answer it.
        Statement(m_connection,
            QStringLiteral(
                "UPDATE content_conversations SET deletion_requested_by = NULL, deletion_requested_at = NULL,"
                " deletion_expires_at = NULL WHERE workspace_id = ? AND deletion_requested_by <> ?"),
            { earlier, idText(keeper.account) });
    }
}

std::optional<qint64> PairingStore::wrongCodeLockout(const QString& account, qint64 now) const
{
    // The burst's worth of wrong codes counted ends with this one: once it has lapsed, fewer
    // than the burst count.
    Statement burst(m_connection,
        QStringLiteral("SELECT failed_at FROM pairing_redeem_failures WHERE account_id = ? AND failed_at >= ?"
                       " ORDER BY failed_at DESC LIMIT 1 OFFSET %1")
            .arg(wrongCodeBurst - 1),
        { account, now - wrongCodeWindow });
    if (!burst.next())
        return std::nullopt;
    return burst.value(0).toLongLong() + wrongCodeWindow + 1 - now;
}

std::expected<PairingInviteRecord, CodeGuessRefusal> PairingStore::inviteForGuess(
    const QUuid& accountID, const QString& typed, qint64 now)
{
    using enum CodeGuessRefusal::Reason;
    const QString account = idText(accountID);
    // Wrong codes only lapse meanwhile, never come back: a lockout read without the lock holds,
    // and its refusal takes neither the lock nor a write.
    if (const auto lockout = wrongCodeLockout(account, now))
        return std::unexpected(CodeGuessRefusal { tooManyAttempts, *lockout });
    Transaction transaction(m_connection);
    // Holds the account's row until the end: a guess of the same account through another
    // connection or server waits here (on SQLite the transaction already writes alone).
    Statement(m_connection, QStringLiteral("UPDATE accounts SET created_at = created_at WHERE id = ?"),
        { account });
    Statement(m_connection,
        QStringLiteral("DELETE FROM pairing_redeem_failures WHERE account_id = ? AND failed_at < ?"),
        { account, now - wrongCodeWindow });
    if (const auto lockout = wrongCodeLockout(account, now)) {
        transaction.commit();
        return std::unexpected(CodeGuessRefusal { tooManyAttempts, *lockout });
    }
    const auto code = PairingCode::normalize(typed);
    auto found = code ? inviteWithCode(*code) : std::nullopt;
    if (!found)
        Statement(m_connection,
            QStringLiteral("INSERT INTO pairing_redeem_failures (account_id, failed_at) VALUES (?, ?)"),
            { account, now });
    transaction.commit();
    if (!found)
        return std::unexpected(CodeGuessRefusal { code ? noSuchInvite : invalidCode });
    return *found;
}

QString PairingStore::writeOutCurrentWorkspace(const QUuid& accountID)
{
    const QString account = idText(accountID);
    Statement current(m_connection,
        QStringLiteral("SELECT workspace_id FROM workspace_members WHERE account_id = ? AND left_at IS NULL"),
        { account });
    if (current.next())
        return current.value(0).toString();
    Statement created(
        m_connection, QStringLiteral("SELECT created_at FROM accounts WHERE id = ?"), { account });
    const qint64 createdAt = created.next() ? created.value(0).toLongLong() : 0;
    openWorkspace(account, createdAt, std::nullopt);
    addMember(account, accountID, createdAt);
    return account;
}

void PairingStore::leaveCurrentWorkspace(const QUuid& accountID, qint64 now)
{
    writeOutCurrentWorkspace(accountID);
    Statement(m_connection,
        QStringLiteral("UPDATE workspace_members SET left_at = ? WHERE account_id = ? AND left_at IS NULL"),
        { now, idText(accountID) });
}

void PairingStore::startAnew(const QUuid& accountID, qint64 now)
{
    leaveCurrentWorkspace(accountID, now);
    const QString own = idText(QUuid::createUuid());
    openWorkspace(own, now, std::nullopt);
    addMember(own, accountID, now);
}

void PairingStore::openWorkspace(const QString& id, qint64 now, std::optional<qint64> linkedAt)
{
    Statement(m_connection,
        QStringLiteral("INSERT INTO workspaces (id, created_at, linked_at) VALUES (?, ?, ?)"),
        { id, now, linkedAt ? QVariant(*linkedAt) : QVariant() });
}

void PairingStore::addMember(const QString& workspaceID, const QUuid& accountID, qint64 joinedAt)
{
    Statement(m_connection,
        QStringLiteral(
            "INSERT INTO workspace_members (workspace_id, account_id, joined_at) VALUES (?, ?, ?)"),
        { workspaceID, idText(accountID), joinedAt });
}

} // namespace lumora
