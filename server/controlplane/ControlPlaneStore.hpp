#pragma once

#include <QString>
#include <QUuid>
#include <expected>
#include <memory>
#include <optional>
#include <stdexcept>

namespace lumora {

class ContentSeal;

// A failed database statement (lost connection, full disk). The service answers it with
// 503 and changes nothing: every multi-statement change runs in one transaction.
class StoreFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DeviceRecord {
    QUuid id;
    QUuid accountID;
    QString publicKey;
    bool revoked = false;
};

enum class TicketRefusal {
    notRedeemable, // unknown, not yet issued, superseded or redeemed already
    keyActiveInAnotherAccount,
};

struct SignInRequestRecord {
    QUuid id;
    QString devicePublicKey;
    QString platform;
    qint64 createdAt = 0;
    std::optional<QString> accountName; // set once the user signed in on the page
    std::optional<qint64> ticketIssuedAt;
    bool redeemed = false;
    // The application's value for this attempt: the callback carries it back, and the ticket
    // is redeemed with it only.
    QString state;
    // A later start took its place: it leads nowhere any more.
    bool superseded = false;
    // The network it was started from (an IPv4 /24, an IPv6 /48); empty for requests of before.
    QString network;
};

struct ConversationSessionRecord {
    QUuid id;
    QString status;
    qint64 expiresAt = 0;
};

struct DiagnosticRecord {
    QUuid accountID;
    QUuid deviceID;
    QString eventType;
    QString status;
};

struct ProductEventRecord {
    QUuid accountID;
    QUuid deviceID;
    QUuid eventID;
    QString eventType;
    QString appVersion;
    qint64 occurredAt = 0;
};

// The control plane's storage through Qt SQL: SQLite ("sqlite:PATH", or "sqlite::memory:" for
// a database of this connection alone, gone with it) or PostgreSQL
// ("postgresql://USER@HOST:PORT/DB"). Opening applies the schema migrations that the
// database has not seen yet, each in its own transaction; the one that seals conversations
// stored in clear needs `seal` when there are any. The connection belongs to the thread that
// opened it. Times are whole Unix seconds.
class ControlPlaneStore {
public:
    static std::expected<std::unique_ptr<ControlPlaneStore>, QString> open(
        const QString& url, const ContentSeal* seal = nullptr);
    // The connection of a thread that writes beside those that serve requests, which leaves its
    // checkpoints to the upkeep thread (see leaveCheckpoints); throws StoreFailure when it
    // cannot be opened.
    static std::unique_ptr<ControlPlaneStore> openWriter(const QString& url);
    ~ControlPlaneStore();
    ControlPlaneStore(const ControlPlaneStore&) = delete;
    ControlPlaneStore& operator=(const ControlPlaneStore&) = delete;

    // The Qt SQL connection that the stores of single features (reservations, content,
    // pairing...) run their statements on, on the thread that opened it.
    [[nodiscard]] const QString& connectionName() const { return m_connection; }

    [[nodiscard]] int schemaVersion() const;
    [[nodiscard]] static int latestSchemaVersion();
    // The version that keeps each conversation's turns.
    static constexpr int turnsVersion = 14;
    // The version that brings stored conversations within the bounds of what the application writes.
    static constexpr int boundsVersion = 15;
    // The version that withdraws a deleted account's requests and makes what it shared its
    // partner's earlier history.
    static constexpr int departuresVersion = 16;

    std::optional<DeviceRecord> device(const QUuid& id) const;
    std::optional<DeviceRecord> activeDeviceWithKey(const QString& publicKey) const;
    // Records a nonce of one signer; false when it was already seen.
    bool rememberNonce(const QString& signer, const QUuid& nonce, qint64 requestTime);
    // In one statement, so that a revocation or deletion made through any connection counts
    // at once: records the nonce of a device that exists and is not revoked, and answers
    // the device's account; nullopt when the device is unknown or revoked, or the nonce
    // was already seen.
    std::optional<QUuid> rememberNonceOfActiveDevice(
        const QUuid& deviceID, const QString& signer, const QUuid& nonce, qint64 requestTime);
    // Forgets nonces whose request time is older than `time`, which the freshness check
    // refuses anyway.
    void forgetNoncesBefore(qint64 time);
    // The same for nonces older than `age` seconds by the database's clock, which every
    // instance on the database shares whatever its own clock says.
    void forgetNoncesOlderThan(qint64 age);

    // On SQLite, a connection that commits may also have to copy the write-ahead log back
    // into the database. A connection that serves requests leaves that to another one,
    // which calls checkpoint() regularly. Nothing on PostgreSQL.
    void leaveCheckpoints();
    void checkpoint();

    // Sign-in requests are added by SignInStartStore.
    std::optional<SignInRequestRecord> signInRequest(const QUuid& id) const;
    std::optional<SignInRequestRecord> signInRequestForTicket(const QString& ticketHash) const;
    // Gives a pending request its ticket and account name; false when it already has one or was
    // superseded (whose ticket is not redeemed either).
    bool issueTicket(
        const QUuid& requestID, const QString& ticketHash, const QString& accountName, qint64 now);
    // Redeems a ticket and registers the request's device key under the named account, in
    // one transaction. A key already active in that account keeps its device. A key active
    // in another account stays there untouched (only a sign-out, which revokes the device,
    // frees it) and the ticket is spent all the same; so is a key that a sign-in running at
    // the same time binds first.
    std::expected<DeviceRecord, TicketRefusal> redeemTicket(const QString& ticketHash, qint64 now);

    bool revokeDevice(const QUuid& accountID, const QUuid& deviceID, qint64 now);

    void addConversationSession(const QUuid& accountID, const ConversationSessionRecord& session, qint64 now);
    std::optional<ConversationSessionRecord> currentConversationSession(
        const QUuid& accountID, qint64 now) const;

    void addDiagnostic(const DiagnosticRecord& record, qint64 now);
    // A repeated event id of the same account is stored once.
    void addProductEvent(const ProductEventRecord& record, qint64 now);
    [[nodiscard]] int countRows(const QString& table, const QUuid& accountID) const;

    // Removes the account and everything stored for it, its devices included, but for the
    // conversations another member of their workspace sees: those pass to that member, sealed
    // again with `seal` for it, without the account's deletion requests. A partner still in the
    // account's workspace leaves it at `now` for one of its own, as at an unlink, so that what
    // they shared is the partner's earlier history. Writes of the account's rows that run at
    // the same time either finish first and go with it, or wait and find the account gone.
    void deleteAccount(const QUuid& accountID, const ContentSeal& seal, qint64 now);
    // Inside a transaction that adds rows of the account: whether the account still exists,
    // kept so until the transaction ends (a deletion waits for it).
    bool holdAccount(const QUuid& accountID);
    // As holdAccount, and another transaction that asks the same for the account waits until
    // this one ends: a check of what the account holds stays true until this one's own rows
    // are added.
    bool holdAccountAlone(const QUuid& accountID);

private:
    explicit ControlPlaneStore(QString connectionName);
    void migrate(const ContentSeal* seal);
    std::optional<QUuid> accountNamed(const QString& name) const;

    QString m_connection;
};

} // namespace lumora
