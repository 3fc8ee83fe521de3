#pragma once

#include <QList>
#include <QString>
#include <QUuid>
#include <expected>
#include <optional>

namespace lumora {

class ControlPlaneStore;

// Why a typed partner code found no invite.
struct CodeGuessRefusal {
    enum class Reason {
        // The account has typed too many wrong codes lately; no code is looked up.
        tooManyAttempts,
        // Not a code at all.
        invalidCode,
        // No invite was ever issued with it.
        noSuchInvite,
    };
    Reason reason = Reason::noSuchInvite;
    // For `tooManyAttempts`: in how many seconds the wrong codes counted let a guess through.
    qint64 retryAfter = 0;
};

// One partner code. `status` is "open" until the partner redeems it, then
// "pending_confirmation" until the partner confirms ("confirmed"); an invite replaced by a
// newer one, or overtaken by a link made otherwise, is "cancelled".
struct PairingInviteRecord {
    QUuid id;
    QUuid accountID;
    QString code;
    QString policyVersion;
    QString status;
    qint64 createdAt = 0;
    qint64 expiresAt = 0;
    std::optional<QUuid> redeemedBy;
    std::optional<qint64> confirmExpiresAt;
};

// The workspace an account is in now.
struct CurrentWorkspaceRecord {
    QString id;
    qint64 memberCount = 1;
    std::optional<qint64> linkedAt;
    std::optional<qint64> partnerJoinedAt;
};

// A workspace the account has left (or that ended around it).
struct PreviousWorkspaceRecord {
    QString id;
    // When it was linked, or made when it never was.
    qint64 createdAt = 0;
    qint64 leftAt = 0;
    qint64 memberCount = 0;
};

// The conversations stored in one workspace.
struct WorkspaceHistoryRecord {
    qint64 conversationCount = 0;
    std::optional<qint64> earliestStartedAt;
    std::optional<qint64> latestStartedAt;
};

// Partner invites and the workspace model. Every account is in exactly one current
// workspace: the one whose `workspace_members` row has no `left_at`, or, while it has no
// such row, its first workspace, whose id is the account's own id (the view
// `current_workspaces` gives that answer in one query). Linking and unlinking end the
// current memberships (`left_at`), which makes those workspaces previous, and open new ones.
class PairingStore {
public:
    // Each account may type this many wrong codes within the window; then every code is
    // refused until the oldest of them has passed out of the window, so that codes cannot be
    // found by trying. The count lives in the database: every connection and every server on
    // it counts the same guesses.
    static constexpr int wrongCodeBurst = 10;
    static constexpr qint64 wrongCodeWindow = 15 * 60;

    explicit PairingStore(ControlPlaneStore& store);

    std::optional<PairingInviteRecord> invite(const QUuid& id) const;
    // The newest invite issued with `code`.
    std::optional<PairingInviteRecord> inviteWithCode(const QString& code) const;
    // Stores a new open invite; the account's earlier invites still outstanding are cancelled.
    void addInvite(const PairingInviteRecord& invite);
    // Open -> pending confirmation by `redeemer`; false when the invite is no longer open.
    bool redeem(const QUuid& inviteID, const QUuid& redeemer, qint64 now, qint64 confirmExpiresAt);

    // The account's own invite that is still open or awaiting the partner, at `now`.
    std::optional<PairingInviteRecord> outstandingInvite(const QUuid& accountID, qint64 now) const;
    // A partner's invite that the account redeemed and may still confirm at `now`.
    std::optional<PairingInviteRecord> pendingConfirmation(const QUuid& accountID, qint64 now) const;

    CurrentWorkspaceRecord currentWorkspace(const QUuid& accountID) const;
    // Oldest first.
    QList<PreviousWorkspaceRecord> previousWorkspaces(const QUuid& accountID) const;
    WorkspaceHistoryRecord workspaceHistory(const QString& workspaceID) const;

    // Confirms the invite: its redeemer leaves its current workspace for the issuer's, which
    // is linked from now on, and every other invite either of them issued or redeemed is
    // cancelled.
    // False (nothing changed) when the invite was not pending any more.
    bool link(const PairingInviteRecord& invite, qint64 now);
    // Ends the account's shared workspace for all its members; each gets a workspace of its own.
    void unlink(const QUuid& accountID, qint64 now);
    // Inside the transaction that deletes the account `leaving`, before its memberships go: a
    // partner still in its workspace leaves it as at an unlink, with a workspace of its own
    // from `now`. What the two shared is then the partner's earlier history, read only, which
    // no next partner joins.
    void releasePartnersOf(const QUuid& leaving, qint64 now);
    // The schema step for the partners of accounts deleted before releasePartnersOf: a keeper
    // still alone in the workspace it shared starts anew at `now`; where a next partner joined
    // it since, what it held before the next partner came moves to an earlier workspace of the
    // keeper's (the requests of others on it withdrawn).
    void releaseKeepersOfDeletedPartners(qint64 now);

    // The newest invite issued with the code `typed` (normalised first), under the
    // account's limit of wrong codes; a malformed or unknown code counts towards it. One
    // account's guesses are counted one after another, even when made at once through
    // several connections, so that they never pass the limit together.
    std::expected<PairingInviteRecord, CodeGuessRefusal> inviteForGuess(
        const QUuid& accountID, const QString& typed, qint64 now);

private:
    // While the account's wrong codes within the window fill its burst, the seconds until the
    // oldest of them lapses and a guess is taken again.
    std::optional<qint64> wrongCodeLockout(const QString& account, qint64 now) const;
    // The account's current workspace, its implicit first one written out as rows first: so
    // that it can be linked, or listed as previous once left.
    QString writeOutCurrentWorkspace(const QUuid& accountID);
    // Ends the account's current membership.
    void leaveCurrentWorkspace(const QUuid& accountID, qint64 now);
    // Leaves the current workspace for a new one of the account's own.
    void startAnew(const QUuid& accountID, qint64 now);
    void openWorkspace(const QString& id, qint64 now, std::optional<qint64> linkedAt);
    void addMember(const QString& workspaceID, const QUuid& accountID, qint64 joinedAt);

    QString m_connection;
};

} // namespace lumora
