#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>
#include <expected>
#include <optional>

namespace lumora {

class ContentSeal;
class ControlPlaneStore;
class Statement;
struct ConversationUploadPayload;

// One stored conversation as one member of its workspace sees it.
struct StoredConversation {
    QUuid id;
    // The account that uploaded it.
    QUuid accountID;
    QString workspaceID;
    QString mode;
    qint64 startedAt = 0;
    qint64 endedAt = 0;
    qint64 durationSeconds = 0;
    std::optional<QString> title;
    qint64 createdAt = 0;
    // False when the viewer has left the workspace the conversation is stored in.
    bool inCurrentWorkspace = true;
    // Its turns as the application groups them; absent for what was stored before they were kept.
    std::optional<qint64> turns;
    std::optional<QUuid> deletionRequestedBy;
    qint64 deletionRequestedAt = 0;
    qint64 deletionExpiresAt = 0;

    // A deletion request waits for the partner at `now` (it has not lapsed).
    [[nodiscard]] bool deletionPending(qint64 now) const
    {
        return deletionRequestedBy.has_value() && deletionExpiresAt > now;
    }
};

// Where a page of the list continues: after the row with this end time and id.
struct ConversationListPosition {
    qint64 endedAt = 0;
    QUuid id;
};

// The account history on the control plane. Conversations belong to a workspace: an
// account alone is a workspace of one; pairing links two accounts in one workspace and
// the workspaces an account has left stay readable to it. Membership lives in
// account_workspaces (one row per account and workspace; the row whose left_at is null
// is the account's current workspace). A member sees every conversation of a workspace it
// belongs to, and of one it has left those stored before it left. Documents and titles are
// stored sealed (see ContentSeal); a stored value that does not open is a StoreFailure.
class ConversationContentStore {
public:
    // How far past the server's clock a conversation may end, as clocks differ; a later end is
    // refused, and one stored before is taken to be the moment it was stored.
    static constexpr qint64 maximumEndAhead = 86'400;

    ConversationContentStore(ControlPlaneStore& store, const ContentSeal& seal);

    // The account's current workspace (its own first one while it has never linked).
    QString currentWorkspace(const QUuid& accountID) const;

    enum class AddOutcome {
        added,
        alreadyStored,
        storedByAnotherAccount,
        accountGone, // deleted since the request was authenticated
        overQuota,
    };
    struct Added {
        AddOutcome outcome;
        // The conversation as the account sees it once stored (added now or before).
        std::optional<StoredConversation> conversation;
    };
    // Stores the document in the account's current workspace, unless what the account has
    // uploaded itself (sealed documents and titles, not what passed to it) would then hold more
    // than `quotaBytes`. The same id
    // again from the same account changes nothing, whatever the quota.
    Added add(const QUuid& accountID, const ConversationUploadPayload& payload, const QByteArray& body,
        qint64 now, qint64 quotaBytes);

    // The conversation when the viewer may see it (hidden or not).
    std::optional<StoredConversation> conversation(const QUuid& viewer, const QUuid& id) const;
    // The stored document of a conversation the viewer may see.
    std::optional<QByteArray> body(const QUuid& viewer, const QUuid& id) const;

    // Newest first (end time, then id, both descending), without the viewer's hidden ones.
    QList<StoredConversation> page(
        const QUuid& viewer, int count, const std::optional<ConversationListPosition>& after) const;

    // Whether an account other than the viewer also sees the conversation.
    bool sharedBeyond(const QUuid& viewer, const StoredConversation& conversation) const;

    void hide(const QUuid& viewer, const QUuid& id, qint64 now);
    void unhide(const QUuid& viewer, const QUuid& id);

    void remove(const QUuid& id);
    struct DeletionAnswer {
        bool deleted = false;
        // As it stands afterwards: with the request that waits for the partner.
        StoredConversation conversation;
    };
    // The viewer asks to delete a conversation it sees (nullopt when it does not). It goes at
    // once when nobody else sees it, or when the partner asked already: the second request is
    // the approval. Otherwise it waits for the partner until `now + lifetime`; asking again
    // keeps the first request and its deadline. Decided and written in one transaction, so
    // two partners asking at the same moment are answered one after the other.
    std::optional<DeletionAnswer> requestDeletion(
        const QUuid& viewer, const QUuid& id, qint64 now, qint64 lifetime);
    void clearDeletionRequest(const QUuid& id);

    [[nodiscard]] const QString& connectionName() const;

    // Seals again, under the current key, what is sealed under a previous one, a batch per
    // transaction; the rows done. Fails (with the reason) when rows are sealed under a key the
    // seal does not know, which nothing here could open.
    std::expected<qint64, QString> resealUnderCurrentKey();
    // The schema step that seals the documents and titles stored in clear before sealing
    // began, inside the step's transaction; without a seal only an empty table passes. Whether
    // any row was sealed.
    static bool sealClearRows(const QString& connection, const ContentSeal* seal);
    // The schema step that counts the turns of the conversations stored before their counts
    // were kept, from the statistics their documents hold. A document that does not open (no
    // seal, or a key the seal does not know) or decode stays without a count.
    static void countStoredTurns(const QString& connection, const ContentSeal* seal);
    // Inside the transaction that deletes the account `leaving`: each conversation it stored
    // that another member of the workspace sees (one who is in it, or was when it was stored)
    // passes to that member, sealed again for it, and marked as passed at `now`: it never counts
    // towards the keeper's quota, which bounds what the keeper itself uploads. One that does not
    // open stays the leaver's, to be deleted with it, and the log names it.
    static void passToKeepers(
        const QString& connection, const ContentSeal& seal, const QUuid& leaving, qint64 now);
    // Inside the same transaction: the deletion requests `leaving` made are withdrawn, as
    // nobody may approve them for it any more.
    static void withdrawRequestsOf(const QString& connection, const QUuid& leaving);
    // The schema step that brings each conversation stored before the bounds of what the
    // application writes (ConversationUploadPayload::fromJson) within them: a document that
    // opens and does not read is read unchecked, given the moment it was stored for an end
    // more than a day past it, brought within the bounds (bounded) and sealed again, its row's
    // times, title and turns with it. A document that does not open or decode stays as it is.
    static void boundStoredRows(const QString& connection, const ContentSeal* seal);

private:
    // What the account's stored documents hold, in bytes.
    qint64 storedBytes(const QUuid& accountID) const;
    // Inside a transaction.
    void removeRows(const QUuid& id);

    // nullopt when its title does not open.
    std::optional<StoredConversation> readConversation(const Statement& row) const;

    ControlPlaneStore& m_store;
    const ContentSeal& m_seal;
};

} // namespace lumora
