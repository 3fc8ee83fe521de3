#include "controlplane/ConversationContentStore.hpp"

#include "controlplane/ContentSeal.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/IdText.hpp"
#include "controlplane/SqlStatement.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "domain/ConversationUploadPayload.hpp"
#include "domain/DerivedSessionResult.hpp"

#include <QJsonDocument>

namespace lumora {

namespace {

// The conversations a viewer (the first value) sees: those of its current workspace and
// those its earlier workspaces held when it left them.
const QString visibleConversations = QStringLiteral(
    "SELECT c.id, c.account_id, c.workspace_id, c.mode, c.started_at, c.ended_at, c.duration_seconds,"
    " c.sealed_title, c.created_at, m.left_at, c.deletion_requested_by, c.deletion_requested_at,"
    " c.deletion_expires_at, c.seal_key, c.turns FROM content_conversations c"
    " JOIN workspace_memberships m ON m.workspace_id = c.workspace_id AND m.account_id = ?"
    " WHERE (m.left_at IS NULL OR c.created_at <= m.left_at)");

using Field = ContentSeal::Field;

QVariant optionalBytes(const std::optional<QByteArray>& bytes)
{
    return bytes ? QVariant(*bytes) : QVariant(QMetaType::fromType<QByteArray>());
}

// Sizes each row will take in `body_bytes`, what the quota counts.
qint64 storedSize(const QByteArray& body, const std::optional<QByteArray>& title)
{
    return body.size() + (title ? title->size() : 0);
}

// Rows stored before sealing began, or under a previous key, are sealed in batches of this many.
constexpr int rowsPerBatch = 200;

// A stored conversation's document and title in clear, on their way to be sealed.
struct OpenRow {
    QUuid id;
    QUuid account;
    QByteArray body;
    std::optional<QByteArray> title;
};

// A row's document and title as sealed for `account` under the key `keyID`; nullopt when either
// does not open.
std::optional<OpenRow> openSealed(const ContentSeal& seal, const QUuid& id, const QUuid& account,
    const QString& keyID, const QVariant& body, const QVariant& title)
{
    const auto openedBody = seal.open(Field::body, id, account, keyID, body.toByteArray());
    if (!openedBody)
        return std::nullopt;
    OpenRow row { id, account, *openedBody, std::nullopt };
    if (!title.isNull()) {
        row.title = seal.open(Field::title, id, account, keyID, title.toByteArray());
        if (!row.title)
            return std::nullopt;
    }
    return row;
}

// Seals the row for its account under the current key; the account is the row's from then on.
void writeSealed(const QString& connection, const ContentSeal& seal, const OpenRow& row)
{
    const QByteArray sealedBody = seal.seal(Field::body, row.id, row.account, row.body);
    std::optional<QByteArray> sealedTitle;
    if (row.title)
        sealedTitle = seal.seal(Field::title, row.id, row.account, *row.title);
    Statement(connection,
        QStringLiteral("UPDATE content_conversations SET account_id = ?, sealed_body = ?, sealed_title = ?,"
                       " seal_key = ?, body_bytes = ? WHERE id = ?"),
        { idText(row.account), sealedBody, optionalBytes(sealedTitle), seal.currentKeyID(),
            storedSize(sealedBody, sealedTitle), idText(row.id) });
}

} // namespace

ConversationContentStore::ConversationContentStore(ControlPlaneStore& store, const ContentSeal& seal)
    : m_store(store)
    , m_seal(seal)
{
}

std::optional<StoredConversation> ConversationContentStore::readConversation(const Statement& row) const
{
    StoredConversation stored;
    stored.id = QUuid::fromString(row.value(0).toString());
    stored.accountID = QUuid::fromString(row.value(1).toString());
    stored.workspaceID = row.value(2).toString();
    stored.mode = row.value(3).toString();
    stored.startedAt = row.value(4).toLongLong();
    stored.endedAt = row.value(5).toLongLong();
    stored.durationSeconds = row.value(6).toLongLong();
    if (!row.value(7).isNull()) {
        const auto title = m_seal.open(
            Field::title, stored.id, stored.accountID, row.value(13).toString(), row.value(7).toByteArray());
        if (!title)
            return std::nullopt;
        stored.title = QString::fromUtf8(*title);
    }
    stored.createdAt = row.value(8).toLongLong();
    stored.inCurrentWorkspace = row.value(9).isNull();
    if (!row.value(10).isNull()) {
        stored.deletionRequestedBy = QUuid::fromString(row.value(10).toString());
        stored.deletionRequestedAt = row.value(11).toLongLong();
        stored.deletionExpiresAt = row.value(12).toLongLong();
    }
    if (!row.value(14).isNull())
        stored.turns = row.value(14).toLongLong();
    return stored;
}

const QString& ConversationContentStore::connectionName() const
{
    return m_store.connectionName();
}

QString ConversationContentStore::currentWorkspace(const QUuid& accountID) const
{
    Statement row(connectionName(),
        QStringLiteral("SELECT workspace_id FROM current_workspaces WHERE account_id = ?"),
        { idText(accountID) });
    if (!row.next())
        throw StoreFailure("the account has no current workspace");
    return row.value(0).toString();
}

ConversationContentStore::Added ConversationContentStore::add(const QUuid& accountID,
    const ConversationUploadPayload& payload, const QByteArray& body, qint64 now, qint64 quotaBytes)
{
    const QString& connection = connectionName();
    Transaction transaction(connection);
    // Uploads of one account run their quota check and insert one after the other.
    if (!m_store.holdAccountAlone(accountID))
        return { AddOutcome::accountGone, std::nullopt };
    const auto stored = [&]() -> std::optional<Added> {
        Statement owner(connection,
            QStringLiteral("SELECT account_id FROM content_conversations WHERE id = ?"),
            { idText(payload.conversationID) });
        if (!owner.next())
            return std::nullopt;
        if (QUuid::fromString(owner.value(0).toString()) != accountID)
            return Added { AddOutcome::storedByAnotherAccount, std::nullopt };
        return Added { AddOutcome::alreadyStored, conversation(accountID, payload.conversationID) };
    };
    if (auto before = stored()) {
        transaction.commit();
        return *before;
    }
    // Counted as stored: sealed, the document as its text's UTF-8 bytes.
    const QUuid& id = payload.conversationID;
    const QByteArray sealedBody = m_seal.seal(Field::body, id, accountID, QString::fromUtf8(body).toUtf8());
    std::optional<QByteArray> sealedTitle;
    if (payload.title)
        sealedTitle = m_seal.seal(Field::title, id, accountID, payload.title->toUtf8());
    const qint64 bytes = storedSize(sealedBody, sealedTitle);
    if (storedBytes(accountID) > quotaBytes - bytes)
        return { AddOutcome::overQuota, std::nullopt };
    const QString workspace = currentWorkspace(accountID);
    Statement insert(connection,
        QStringLiteral(
            "INSERT INTO content_conversations (id, account_id, workspace_id, mode, started_at,"
            " ended_at, duration_seconds, sealed_title, created_at, sealed_body, seal_key, body_bytes, turns)"
            " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING"),
        { idText(id), idText(accountID), workspace, toString(payload.mode), payload.startedAt,
            payload.endedAt, payload.durationSeconds, optionalBytes(sealedTitle), now, sealedBody,
            m_seal.currentKeyID(), bytes, SpeakerStats::totalTurns(payload.derivedResult().stats) });
    Added outcome { AddOutcome::added, std::nullopt };
    if (insert.rowsAffected() == 1) {
        outcome.conversation = conversation(accountID, payload.conversationID);
    } else if (auto meanwhile = stored()) {
        // The same id from another upload that ran at the same time.
        outcome = *meanwhile;
    } else {
        throw StoreFailure("a conversation vanished while it was stored");
    }
    transaction.commit();
    return outcome;
}

qint64 ConversationContentStore::storedBytes(const QUuid& accountID) const
{
    // From the index of accounts and sizes alone: no body is read, whatever the account holds.
    // What a departing partner passed to it is not the account's own upload.
    Statement row(connectionName(),
        QStringLiteral("SELECT COALESCE(SUM(body_bytes), 0) FROM content_conversations WHERE account_id = ?"
                       " AND passed_at IS NULL"),
        { idText(accountID) });
    return row.next() ? row.value(0).toLongLong() : 0;
}

std::optional<StoredConversation> ConversationContentStore::conversation(
    const QUuid& viewer, const QUuid& id) const
{
    Statement row(connectionName(), visibleConversations + " AND c.id = ?", { idText(viewer), idText(id) });
    if (!row.next())
        return std::nullopt;
    auto read = readConversation(row);
    if (!read)
        throw StoreFailure("a stored title does not open under the content key");
    return read;
}

std::optional<QByteArray> ConversationContentStore::body(const QUuid& viewer, const QUuid& id) const
{
    const auto seen = conversation(viewer, id);
    if (!seen)
        return std::nullopt;
    Statement row(connectionName(),
        QStringLiteral("SELECT sealed_body, seal_key FROM content_conversations WHERE id = ?"),
        { idText(id) });
    if (!row.next())
        return std::nullopt;
    auto opened
        = m_seal.open(Field::body, id, seen->accountID, row.value(1).toString(), row.value(0).toByteArray());
    if (!opened)
        throw StoreFailure("a stored conversation does not open under the content key");
    return opened;
}

QList<StoredConversation> ConversationContentStore::page(
    const QUuid& viewer, int count, const std::optional<ConversationListPosition>& after) const
{
    QList<StoredConversation> conversations;
    // A row that does not open is left out, as the application leaves out one it cannot read,
    // and the page reads on past it: one spoiled row hides nothing else.
    for (auto from = after; conversations.size() < count;) {
        QString sql = visibleConversations
            + " AND NOT EXISTS (SELECT 1 FROM content_hidden h WHERE h.account_id = m.account_id"
              " AND h.conversation_id = c.id)";
        QVariantList values { idText(viewer) };
        if (from) {
            sql += " AND (c.ended_at < ? OR (c.ended_at = ? AND c.id < ?))";
            values << from->endedAt << from->endedAt << idText(from->id);
        }
        const qsizetype asked = count - conversations.size();
        sql += " ORDER BY c.ended_at DESC, c.id DESC LIMIT ?";
        values << asked;
        Statement rows(connectionName(), sql, values);
        qsizetype found = 0;
        while (rows.next()) {
            ++found;
            from = ConversationListPosition { rows.value(5).toLongLong(),
                QUuid::fromString(rows.value(0).toString()) };
            if (auto conversation = readConversation(rows))
                conversations.append(std::move(*conversation));
            else
                qWarning(
                    "the stored conversation %s does not open under the content key: left out of the list",
                    qPrintable(rows.value(0).toString()));
        }
        if (found < asked)
            break;
    }
    return conversations;
}

bool ConversationContentStore::sharedBeyond(const QUuid& viewer, const StoredConversation& conversation) const
{
    Statement row(connectionName(),
        QStringLiteral("SELECT COUNT(*) FROM workspace_memberships WHERE workspace_id = ? AND account_id <> ?"
                       " AND (left_at IS NULL OR left_at >= ?)"),
        { conversation.workspaceID, idText(viewer), conversation.createdAt });
    return row.next() && row.value(0).toLongLong() > 0;
}

void ConversationContentStore::hide(const QUuid& viewer, const QUuid& id, qint64 now)
{
    Statement(connectionName(),
        QStringLiteral("INSERT INTO content_hidden (account_id, conversation_id, hidden_at) VALUES (?, ?, ?)"
                       " ON CONFLICT DO NOTHING"),
        { idText(viewer), idText(id), now });
}

void ConversationContentStore::unhide(const QUuid& viewer, const QUuid& id)
{
    Statement(connectionName(),
        QStringLiteral("DELETE FROM content_hidden WHERE account_id = ? AND conversation_id = ?"),
        { idText(viewer), idText(id) });
}

void ConversationContentStore::remove(const QUuid& id)
{
    Transaction transaction(connectionName());
    removeRows(id);
    transaction.commit();
}

void ConversationContentStore::removeRows(const QUuid& id)
{
    Statement(connectionName(), QStringLiteral("DELETE FROM content_hidden WHERE conversation_id = ?"),
        { idText(id) });
    Statement(
        connectionName(), QStringLiteral("DELETE FROM content_conversations WHERE id = ?"), { idText(id) });
}

std::optional<ConversationContentStore::DeletionAnswer> ConversationContentStore::requestDeletion(
    const QUuid& viewer, const QUuid& id, qint64 now, qint64 lifetime)
{
    const QString& connection = connectionName();
    Transaction transaction(connection);
    // The row stays as read until the end: a partner's request made at the same moment waits
    // here, and then finds this one (SQLite's transactions write alone anyway).
    const bool sqlite = connectionOf(connection).driverName() == u"QSQLITE";
    Statement(connection,
        QStringLiteral("SELECT id FROM content_conversations WHERE id = ?")
            + (sqlite ? QString() : QStringLiteral(" FOR UPDATE")),
        { idText(id) });
    auto conversation = this->conversation(viewer, id);
    if (!conversation)
        return std::nullopt;
    const bool pending = conversation->deletionPending(now);
    if (!sharedBeyond(viewer, *conversation) || (pending && *conversation->deletionRequestedBy != viewer)) {
        removeRows(id);
        transaction.commit();
        return DeletionAnswer { true, std::move(*conversation) };
    }
    if (!pending) {
        conversation->deletionRequestedBy = viewer;
        conversation->deletionRequestedAt = now;
        conversation->deletionExpiresAt = now + lifetime;
        Statement(connection,
            QStringLiteral(
                "UPDATE content_conversations SET deletion_requested_by = ?, deletion_requested_at = ?,"
                " deletion_expires_at = ? WHERE id = ?"),
            { idText(viewer), now, conversation->deletionExpiresAt, idText(id) });
    }
    transaction.commit();
    return DeletionAnswer { false, std::move(*conversation) };
}

std::expected<qint64, QString> ConversationContentStore::resealUnderCurrentKey()
{
    const QString& connection = connectionName();
    {
        Statement keys(connection, QStringLiteral("SELECT DISTINCT seal_key FROM content_conversations"));
        while (keys.next()) {
            if (!m_seal.knows(keys.value(0).toString()))
                return std::unexpected(
                    QStringLiteral("stored conversations are sealed under a content key that neither"
                                   " --content-key-file nor --previous-content-key-file gives"));
        }
    }
    qint64 resealed = 0;
    for (;;) {
        Transaction transaction(connection);
        QList<OpenRow> batch;
        {
            Statement rows(connection,
                QStringLiteral("SELECT id, account_id, sealed_body, sealed_title, seal_key FROM"
                               " content_conversations WHERE seal_key <> ? LIMIT ?"),
                { m_seal.currentKeyID(), rowsPerBatch });
            while (rows.next()) {
                const QUuid id = QUuid::fromString(rows.value(0).toString());
                auto row = openSealed(m_seal, id, QUuid::fromString(rows.value(1).toString()),
                    rows.value(4).toString(), rows.value(2), rows.value(3));
                if (!row)
                    return std::unexpected(
                        QStringLiteral("the stored conversation %1 does not open").arg(idText(id)));
                batch.append(std::move(*row));
            }
        }
        for (const OpenRow& row : batch)
            writeSealed(connection, m_seal, row);
        transaction.commit();
        resealed += batch.size();
        if (batch.size() < rowsPerBatch)
            return resealed;
    }
}

bool ConversationContentStore::sealClearRows(const QString& connection, const ContentSeal* seal)
{
    bool sealed = false;
    for (;;) {
        QList<OpenRow> batch;
        {
            Statement rows(connection,
                QStringLiteral("SELECT id, account_id, body, title FROM content_conversations"
                               " WHERE seal_key IS NULL LIMIT ?"),
                { rowsPerBatch });
            while (rows.next()) {
                batch.append(OpenRow { QUuid::fromString(rows.value(0).toString()),
                    QUuid::fromString(rows.value(1).toString()), rows.value(2).toString().toUtf8(),
                    rows.value(3).isNull() ? std::nullopt
                                           : std::optional(rows.value(3).toString().toUtf8()) });
            }
        }
        if (!batch.isEmpty() && !seal)
            throw StoreFailure(
                "stored conversations are to be sealed: start the server with its --content-key-file");
        for (const OpenRow& row : batch)
            writeSealed(connection, *seal, row);
        sealed = sealed || !batch.isEmpty();
        if (batch.size() < rowsPerBatch)
            return sealed;
    }
}

void ConversationContentStore::countStoredTurns(const QString& connection, const ContentSeal* seal)
{
    // Read first, written after; one document open at a time.
    QList<std::pair<QString, qint64>> counted;
    {
        Statement rows(connection,
            QStringLiteral("SELECT id, account_id, sealed_body, seal_key FROM content_conversations"
                           " WHERE turns IS NULL"));
        while (seal && rows.next()) {
            const QUuid id = QUuid::fromString(rows.value(0).toString());
            const auto body = seal->open(Field::body, id, QUuid::fromString(rows.value(1).toString()),
                rows.value(3).toString(), rows.value(2).toByteArray());
            if (!body)
                continue;
            const auto payload = ConversationUploadCodec::payload(*body);
            if (payload)
                counted.append({ idText(id), SpeakerStats::totalTurns(payload->derivedResult().stats) });
        }
    }
    for (const auto& [id, turns] : counted)
        Statement(connection, QStringLiteral("UPDATE content_conversations SET turns = ? WHERE id = ?"),
            { turns, id });
}

void ConversationContentStore::passToKeepers(
    const QString& connection, const ContentSeal& seal, const QUuid& leaving, qint64 now)
{
    // A member who is in the conversation's workspace, or was when it was stored: the one still
    // in it first, else the one who left last.
    const QString keeper = QStringLiteral(
        "FROM workspace_members m WHERE m.workspace_id = c.workspace_id AND m.account_id <> ?"
        " AND (m.left_at IS NULL OR m.left_at >= c.created_at)");
    QList<OpenRow> passing;
    {
        Statement rows(connection,
            "SELECT c.id, c.sealed_body, c.sealed_title, c.seal_key, (SELECT m.account_id " + keeper
                + " ORDER BY m.left_at IS NULL DESC, m.left_at DESC, m.account_id LIMIT 1)"
                  " FROM content_conversations c WHERE c.account_id = ? AND EXISTS (SELECT 1 "
                + keeper + ")",
            { idText(leaving), idText(leaving), idText(leaving) });
        while (rows.next()) {
            const QUuid id = QUuid::fromString(rows.value(0).toString());
            auto row = openSealed(seal, id, leaving, rows.value(3).toString(), rows.value(1), rows.value(2));
            // Nobody can read it, so nothing passes: it stays the leaver's and goes with the
            // account, which one spoiled value must never keep from leaving.
            if (!row) {
                qWarning("the stored conversation %s does not open under the content key: deleted with its"
                         " account",
                    qPrintable(idText(id)));
                continue;
            }
            row->account = QUuid::fromString(rows.value(4).toString());
            passing.append(std::move(*row));
        }
    }
    // Sealed again for the account that keeps it, as every stored value is bound to its account.
    for (const OpenRow& row : passing) {
        writeSealed(connection, seal, row);
        Statement(connection, QStringLiteral("UPDATE content_conversations SET passed_at = ? WHERE id = ?"),
            { now, idText(row.id) });
    }
}

void ConversationContentStore::withdrawRequestsOf(const QString& connection, const QUuid& leaving)
{
    Statement(connection,
        QStringLiteral(
            "UPDATE content_conversations SET deletion_requested_by = NULL,"
            " deletion_requested_at = NULL, deletion_expires_at = NULL WHERE deletion_requested_by = ?"),
        { idText(leaving) });
}

void ConversationContentStore::boundStoredRows(const QString& connection, const ContentSeal* seal)
{
    if (!seal)
        return;
    QStringList ids;
    {
        Statement rows(connection, QStringLiteral("SELECT id FROM content_conversations"));
        while (rows.next())
            ids.append(rows.value(0).toString());
    }
    // One document open at a time.
    for (const QString& id : ids) {
        Statement row(connection,
            QStringLiteral("SELECT account_id, sealed_body, seal_key, created_at FROM content_conversations"
                           " WHERE id = ?"),
            { id });
        if (!row.next())
            continue;
        const QUuid account = QUuid::fromString(row.value(0).toString());
        const qint64 createdAt = row.value(3).toLongLong();
        const auto body = seal->open(
            Field::body, QUuid::fromString(id), account, row.value(2).toString(), row.value(1).toByteArray());
        if (!body)
            continue;
        const auto read = ConversationUploadCodec::payload(*body);
        if (read && read->endedAt <= createdAt + maximumEndAhead)
            continue;
        auto stored = ConversationUploadPayload::fromJsonUnchecked(QJsonDocument::fromJson(*body).object());
        if (!stored)
            continue;
        if (stored->endedAt > createdAt + maximumEndAhead)
            stored->endedAt = createdAt;
        const ConversationUploadPayload bounded = stored->bounded();
        const auto encoded = ConversationUploadCodec::encode(bounded);
        if (!encoded)
            continue;
        writeSealed(connection, *seal,
            OpenRow { QUuid::fromString(id), account, *encoded,
                bounded.title.transform([](const QString& title) { return title.toUtf8(); }) });
        Statement(connection,
            QStringLiteral(
                "UPDATE content_conversations SET started_at = ?, ended_at = ?, duration_seconds = ?,"
                " turns = ? WHERE id = ?"),
            { bounded.startedAt, bounded.endedAt, bounded.durationSeconds,
                SpeakerStats::totalTurns(bounded.derivedResult().stats), id });
    }
}

void ConversationContentStore::clearDeletionRequest(const QUuid& id)
{
    Statement(connectionName(),
        QStringLiteral("UPDATE content_conversations SET deletion_requested_by = NULL,"
                       " deletion_requested_at = NULL, deletion_expires_at = NULL WHERE id = ?"),
        { idText(id) });
}

} // namespace lumora
