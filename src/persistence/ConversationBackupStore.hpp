#pragma once

#include "domain/ConversationBackupRecord.hpp"
#include "domain/ConversationMigrationChoice.hpp"
#include "domain/ConversationRecordSummary.hpp"
#include "persistence/DataFolderLock.hpp"
#include "persistence/FileSealer.hpp"
#include "persistence/SerialGate.hpp"

#include <QHash>
#include <QList>
#include <functional>

namespace lumora {

class SecureKeyStore;

// Everything this computer knows about the account-history copies of its conversations, kept
// in one sealed file "backup-state.lbs" under its own key. Operations run one at a time in the
// order they were called, so each sees the effects of all earlier ones.
//
// The first successful read or edit fills an in-memory copy that serves every later read. Reading
// the file and each edit (applying it, encoding, sealing, writing) run on a pool thread. Every
// edit rewrites the whole file atomically and either succeeds (the file replaced and the copy
// equal to what the file now holds) or fails with file and copy as they were. A missing file
// reads as the empty state.
//
// The key follows FileSealer's rules: with the file present and its key missing or another one,
// every read and edit fails with `keyUnavailable` and nothing is written, until the key is back.
// A file whose key is known to be right (its fingerprint matches) but that cannot be opened or
// decoded is damaged: it is moved aside ("backup-state.lbs.unreadable-<date>"), never deleted,
// and the state starts empty. The file carries a format version; members this version does not
// know (of the state and of each record) are written back with every edit, and a file of a newer
// version is read where it can be but never overwritten (`ResultStoreError::newerFormat`).
// The store holds the lock on its folder (DataFolderLock) for its life.
//
// Several accounts may have signed in on this computer. Each record names the account whose
// review it is, and the cached and hidden lists and the answer to the migration offer belong to
// one account, those of the others being set aside until their account is back. Operations given
// an account read and change only what is that account's: another account's record reads as
// `ResultStoreError::otherAccount`, and its lists as empty. Without an account they act on
// everything, as builds before accounts were told apart did. What those builds wrote names no
// account: such a record goes to an account only when `claimListed` finds the account's list
// holding its conversation, or when the account's user takes it (an upsert that names the
// account), and such lists and answer are no account's.
class ConversationBackupStore {
public:
    // One account's lists (its conversations as last listed and those it hid) and its answer
    // to the migration offer.
    struct AccountLists {
        QUuid accountID;
        QList<ConversationRecordSummary> cachedConversations;
        QList<ConversationRecordSummary> hiddenConversations;
        std::optional<QDateTime> cacheUpdatedAt;
        std::optional<ConversationMigrationChoice> migrationChoice;

        bool operator==(const AccountLists&) const = default;

        [[nodiscard]] bool isEmpty() const
        {
            return cachedConversations.isEmpty() && hiddenConversations.isEmpty() && !cacheUpdatedAt
                && !migrationChoice;
        }
        QJsonObject toJson() const;
        [[nodiscard]] static std::expected<AccountLists, JsonDecodeError> fromJson(const QJsonValue& value);
    };

    struct State {
        // One record per local review, in insertion order.
        QList<ConversationBackupRecord> records;
        // The answer to the migration offer of the account whose lists are in use.
        std::optional<ConversationMigrationChoice> migrationChoice;
        // The account's conversations as last listed, plus later merges.
        QList<ConversationRecordSummary> cachedConversations;
        // Conversations the user hid from their own view.
        QList<ConversationRecordSummary> hiddenConversations;
        // When `cachedConversations` was last replaced from the server.
        std::optional<QDateTime> cacheUpdatedAt;
        // The account whose lists and answer the four above are; absent when no build said.
        std::optional<QUuid> listsAccountID;
        // The lists of the other accounts, set aside while another account's are in use.
        QList<AccountLists> otherAccountsLists;

        bool operator==(const State&) const = default;

        // The account's lists, wherever they are; empty ones for an account without any.
        [[nodiscard]] AccountLists listsOf(const QUuid& accountID) const;
        // Makes the account's lists the ones in use, setting aside those of the account that had
        // them; lists that name no account belong to none and are dropped, with their answer.
        void takeListsFor(const QUuid& accountID);

        // The optional fields, and an empty "otherAccountsLists", are left out when absent.
        QJsonObject toJson() const;
        // "records" and "cachedConversations" are required; a missing "hiddenConversations" or
        // "otherAccountsLists" reads as an empty list.
        [[nodiscard]] static std::expected<State, JsonDecodeError> fromJson(const QJsonValue& value);
    };

    template <typename T> using Result = std::expected<T, ResultStoreFailure>;
    // Values wrapped in structs: a coroutine cannot return an expected optional or list.
    struct FoundRecord {
        std::optional<ConversationBackupRecord> record;
    };
    struct Records {
        QList<ConversationBackupRecord> records;
    };
    struct Summaries {
        QList<ConversationRecordSummary> summaries;
    };
    struct MigrationChoice {
        std::optional<ConversationMigrationChoice> choice;
    };

    // The version of the form of the JSON this build writes.
    static constexpr int formatVersion = 1;

    static QString keyAccount();
    static QString fileName();
    // "Lumora/Backup" in the user's application data folder.
    static QString standardDirectory();

    // Creates the folder (mode 0700) when it is missing and takes the lock on it; reads
    // nothing yet. Fails with `DataFolderLock::inUseReason()` when another process holds it.
    [[nodiscard]] static std::expected<std::shared_ptr<ConversationBackupStore>, FileSystemError> create(
        const QString& directory, std::shared_ptr<SecureKeyStore> keyStore);

    [[nodiscard]] const QString& file() const { return m_file; }

    // Absent: every account's; given: that account's only (see above).
    using Account = std::optional<QUuid>;

    [[nodiscard]] QCoro::Task<Result<State>> state();
    // The first record with that local id.
    [[nodiscard]] QCoro::Task<Result<FoundRecord>> record(QUuid localID, Account account = std::nullopt);
    [[nodiscard]] QCoro::Task<Result<Records>> records(Account account = std::nullopt);
    // The records that name no account.
    [[nodiscard]] QCoro::Task<Result<Records>> unclaimedRecords();
    [[nodiscard]] QCoro::Task<Result<MigrationChoice>> migrationChoice(Account account = std::nullopt);
    [[nodiscard]] QCoro::Task<Result<Summaries>> cachedConversations(Account account = std::nullopt);
    [[nodiscard]] QCoro::Task<Result<Summaries>> hiddenConversations(Account account = std::nullopt);

    // Replaces the first record with the same local id in place, or appends the record.
    [[nodiscard]] QCoro::Task<Result<void>> upsert(ConversationBackupRecord record);
    // The rule above for each record in order, against the list as it grows.
    [[nodiscard]] QCoro::Task<Result<void>> upsert(QList<ConversationBackupRecord> records);
    // Another account's record stays.
    [[nodiscard]] QCoro::Task<Result<void>> removeRecord(QUuid localID, Account account = std::nullopt);
    // Absent clears the choice.
    [[nodiscard]] QCoro::Task<Result<void>> setMigrationChoice(
        std::optional<ConversationMigrationChoice> choice, Account account = std::nullopt);
    // Takes the list as it is, drops the hidden summaries it holds again and notes the time.
    [[nodiscard]] QCoro::Task<Result<void>> replaceCachedConversations(
        QList<ConversationRecordSummary> conversations, QDateTime at, Account account = std::nullopt);
    // Removes the id from both lists.
    [[nodiscard]] QCoro::Task<Result<void>> removeCachedConversation(
        QUuid id, Account account = std::nullopt);
    // Moves the summary from wherever it is to the end of the hidden list.
    [[nodiscard]] QCoro::Task<Result<void>> markHidden(
        ConversationRecordSummary conversation, Account account = std::nullopt);
    // Moves the first hidden summary with that id to the end of the cached list; without one,
    // nothing changes.
    [[nodiscard]] QCoro::Task<Result<void>> markUnhidden(QUuid id, Account account = std::nullopt);
    // Puts the summary at the end of the cached list in place of any with its id; the hidden
    // list and the cache time stay.
    [[nodiscard]] QCoro::Task<Result<void>> mergeCachedConversation(
        ConversationRecordSummary conversation, Account account = std::nullopt);
    // Gives `accountID` each record that names no account and whose conversation the account's
    // cached or hidden list holds: the account has it, so the review is its own. Writes nothing
    // when there is none.
    [[nodiscard]] QCoro::Task<Result<void>> claimListed(QUuid accountID);
    // Removes the account's records, lists and answer, and its id with them; when nothing else
    // is left, the whole state goes as with `removeAll`.
    [[nodiscard]] QCoro::Task<Result<void>> removeAccount(QUuid accountID);
    // Deletes the file without reading it, so it also clears a file that cannot be opened, with
    // its copies moved aside and what interrupted writes left, then its key and the key's
    // fingerprint. A folder that is a symbolic link is refused (`ResultStoreError::unsafeFolder`).
    [[nodiscard]] QCoro::Task<Result<void>> removeAll();

private:
    ConversationBackupStore(
        QString directory, std::shared_ptr<SecureKeyStore> keyStore, std::shared_ptr<DataFolderLock> lock);

    // A decoded file with what this version does not know of it.
    struct Adopted {
        State state;
        QJsonObject keptMembers;
        QHash<QUuid, QJsonObject> keptRecordMembers;
        bool newerFormat = false;
    };
    struct Read;
    struct Edit;

    // The state without entering the gate, for operations that already hold it.
    [[nodiscard]] QCoro::Task<Result<State>> currentState();
    [[nodiscard]] QCoro::Task<Result<void>> mutate(std::function<void(State&)> edit);
    // `mutate` and `removeAll` for operations that already hold the gate.
    [[nodiscard]] QCoro::Task<Result<void>> mutateHeld(std::function<void(State&)> edit);
    [[nodiscard]] QCoro::Task<Result<void>> removeAllHeld();
    // What a decoded file holds, this version's members and the others apart; file work.
    [[nodiscard]] static Adopted adoption(State state, const QJsonObject& document);
    // Takes a decoded file as the copy in memory.
    void adopt(Adopted adopted);
    // Moves a damaged file aside and starts from the empty state.
    [[nodiscard]] Result<State> startAfresh(const ResultStoreFailure& why);
    void forget();

    std::shared_ptr<DataFolderLock> m_lock;
    QString m_directory;
    QString m_file;
    FileSealer m_sealer;
    std::optional<State> m_cached;
    // Members of the file, and of each of its records by local id, unknown to this version.
    QJsonObject m_keptMembers;
    QHash<QUuid, QJsonObject> m_keptRecordMembers;
    // The file was written by a newer version; it is read but never overwritten.
    bool m_newerFormat = false;
    SerialGate m_gate;
};

} // namespace lumora
