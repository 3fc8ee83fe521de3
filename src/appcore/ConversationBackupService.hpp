#pragma once

#include "appcore/ConversationBackupServiceError.hpp"
#include "domain/ConversationBackupOutcome.hpp"
#include "domain/ConversationBackupRecord.hpp"
#include "domain/ConversationDeletionOutcome.hpp"
#include "domain/ConversationHistoryEntry.hpp"
#include "domain/ConversationMigrationChoice.hpp"
#include "domain/ConversationRecordSummary.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "providers/ControlPlaneFailure.hpp"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QUuid>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumora {

class ConversationBackupStore;
class ConversationContentClient;
class DerivedResultRepository;

// Copies every sealed review of this computer to the account history and keeps one backup
// record per review in the backup-state store; runs the one-time migration offer; and feeds
// and changes the history list (refresh, merge, review, delete, hide); and withdraws what a
// conversation the user discarded left.
//
// Upload failures never reach the caller: they become an outcome, the record's state and
// one log line, and the backup policy decides when the next attempt is due. A deletion is
// written on the review's record before it is sent, and sent again until the account has
// answered it. The service keeps no state of its own but the reviews it holds back while their
// finish runs and those of discarded conversations; two of its operations may interleave at any store or
// server call, and the last write to the store wins. Made through `create`: an operation in flight keeps the
// service and its collaborators alive.
//
// Made for an account, the service is handed every review of this computer and works on that
// account's reviews (AccountResults), records and lists alone (see ConversationBackupStore), and
// the records it makes name the account. A review whose account is not known (an earlier build's)
// becomes the account's only on proof, when the account's list holds its conversation, or when
// the user takes it from the migration offer, which shows it. Without an account the service
// works on everything the stores hold.
class ConversationBackupService : public std::enable_shared_from_this<ConversationBackupService> {
public:
    using Clock = std::function<QDateTime()>;
    template <typename T> using Result = std::expected<T, ConversationBackupServiceError>;

    // Summaries asked for per history page, and pages read per refresh at most.
    static constexpr int pageSize = 100;
    static constexpr int maximumHistoryPages = 20;

    // `clock` dates the refreshed history cache and the retries a refresh starts; every other time
    // is passed in.
    static std::shared_ptr<ConversationBackupService> create(
        std::shared_ptr<const ConversationContentClient> client,
        std::shared_ptr<DerivedResultRepository> results, std::shared_ptr<ConversationBackupStore> store,
        Clock clock = &QDateTime::currentDateTimeUtc, std::optional<QUuid> account = std::nullopt);

    // The failure code of an upload that waits because the backup state cannot be read or
    // written: nothing is sent without a record kept for it.
    static const QString stateUnavailableCode;
    // The code of an upload refused because the user discarded its conversation.
    static const QString discardedCode;

    // Uploads the review when its record is pending (making a pending record when it has
    // none) and returns what the attempt came to. A stored record gives `stored` and one
    // kept on this computer `abandoned` with its code ("not_pending" without one), both
    // without a request; a record that cannot be read or made gives `retryLater` with
    // `stateUnavailableCode`, also without one.
    QCoro::Task<ConversationBackupOutcome> backUp(DerivedSessionResult result, QDateTime now);
    // Tries every record whose retry time has come, oldest review first, until one gives
    // `retryLater`. A record whose review is gone from this computer is removed; one whose
    // review cannot be read is kept for a later run.
    QCoro::Task<void> retryPending(QDateTime now);
    // Keeps a review back from the retries while it lives.
    using BackUpHold = std::shared_ptr<void>;
    // A review whose finish runs: its record is made pending now, so that the review reaches
    // the account should the finish never end (a crash, a kill), but no retry sends it while the
    // hold lives, as the finish is about to replace it.
    QCoro::Task<BackUpHold> holdBackUp(QUuid localID);
    // The user discarded the conversation of this review: nothing of it may reach the account
    // any more. No upload of it starts from now on, and one on its way when the account answers
    // leaves nothing there.
    void withhold(QUuid localID);
    // Withholds the review and removes its record; when an upload of it was sent and may have
    // arrived, the account is asked to delete its copy as any deletion is (written down on the
    // record first, sent again until answered). False when the record could not be read or
    // written.
    QCoro::Task<bool> discard(QUuid localID);

    // Reads the account's list, at most `maximumHistoryPages` pages, into the cache; any
    // failing page leaves the cache as it was and fails with `refreshFailed` (logged). A
    // conversation whose deletion this user asked for and which a whole list no longer holds
    // was deleted by the partner's approval: once the account confirms it is gone, it is
    // forgotten here too. A conversation that a whole list no longer holds may have left the
    // account (deleted on another computer, say), which may have made room: the uploads that wait
    // for room are tried at once. Answers the local reviews so removed.
    QCoro::Task<Result<QList<QUuid>>> refreshServerHistory();
    // Local reviews, cached and hidden summaries and records merged, newest first; an
    // input that cannot be read counts as empty.
    QCoro::Task<QList<ConversationHistoryEntry>> history();
    // From this computer when possible, else rebuilt from the account's copy.
    [[nodiscard]] QCoro::Task<Result<DerivedSessionResult>> review(ConversationHistoryEntry entry);
    // Deletes on the account when the conversation is or may be there (stored, or pending with
    // an upload that may have arrived; a shared one may wait for the partner), else only on this
    // computer. A backup state that cannot be read or written deletes nothing: whether the
    // account holds a copy is then unknown, or the deletion could not be written down. Without
    // an answer from the account the deletion fails but stays written down.
    [[nodiscard]] QCoro::Task<Result<ConversationDeletionOutcome>> remove(ConversationHistoryEntry entry);
    [[nodiscard]] QCoro::Task<Result<void>> approveDeletion(ConversationHistoryEntry entry);
    // Sends again each deletion written down that the account has not answered (the
    // application ended meanwhile, or the answer was lost); "not found" counts as deleted.
    // Stops at the first that gets no answer.
    QCoro::Task<void> completeDeletions();
    [[nodiscard]] QCoro::Task<Result<void>> declineDeletion(ConversationHistoryEntry entry);
    // Only a conversation on the account can be hidden.
    [[nodiscard]] QCoro::Task<Result<void>> hide(ConversationHistoryEntry entry);
    [[nodiscard]] QCoro::Task<Result<void>> unhide(ConversationHistoryEntry entry);

    // Absent when not answered or not readable.
    QCoro::Task<std::optional<ConversationMigrationChoice>> migrationChoice();
    // What the migration offer covers, as rows kept only on this computer, newest first: the
    // account's reviews that no record has yet, and the reviews whose account is not known that
    // no account has taken and that are neither on an account nor being deleted. Empty when the
    // records cannot be read.
    QCoro::Task<QList<ConversationHistoryEntry>> conversationsOffered();
    QCoro::Task<qint64> conversationsAwaitingOffer();
    // The answers to the offer, for the conversations of it the user chose by local id (absent:
    // every one); the others stay as they are, and a review of an unknown account no account's.
    QCoro::Task<void> acceptMigration(QDateTime now, std::optional<QList<QUuid>> chosen = std::nullopt);
    QCoro::Task<void> declineMigration(std::optional<QList<QUuid>> chosen = std::nullopt);
    // Sends again everything kept on this computer, unoffered reviews included.
    QCoro::Task<void> backUpConversationsKeptLocal(QDateTime now);
    // Abandoned and declined records plus unoffered reviews; 0 when the records cannot be read.
    QCoro::Task<qint64> conversationsKeptLocal();
    // Wipes the backup state (the account's part of it, for a service made for one); the local
    // reviews stay. False when the state stays on disk.
    QCoro::Task<bool> forgetEverything();

    // What an upload failure means for the record.
    static ConversationBackupOutcome outcome(const ControlPlaneFailure& failure);
    // The summary hidden for an entry that is not in the cache: whole seconds, never a
    // start before 1, and no overflow whatever the entry holds.
    static ConversationRecordSummary summaryOf(const ConversationHistoryEntry& entry);

private:
    ConversationBackupService(std::shared_ptr<const ConversationContentClient> client,
        std::shared_ptr<DerivedResultRepository> results, std::shared_ptr<ConversationBackupStore> store,
        Clock clock, std::optional<QUuid> account);

    // A review whose account is not known, with its record when it has one.
    struct Unclaimed {
        DerivedSessionResult review;
        std::optional<ConversationBackupRecord> record;
    };

    // The account's reviews that no record has; absent when the records cannot be read.
    QCoro::Task<std::optional<QList<DerivedSessionResult>>> unoffered();
    QCoro::Task<std::optional<QList<QUuid>>> unofferedIDs();
    static QList<QUuid> idsOf(const QList<DerivedSessionResult>& reviews);
    // The reviews whose account is not known that the offer covers.
    QCoro::Task<QList<Unclaimed>> unclaimedOnOffer();
    // The records an answer to the offer writes for the chosen conversations; absent when the
    // records cannot be read.
    QCoro::Task<std::optional<QList<ConversationBackupRecord>>> takenFromOffer(
        ConversationBackupState state, std::optional<QList<QUuid>> chosen);
    // Marks as the account's each review whose account is not known and whose record the account
    // took; one that cannot be saved is tried again the next time.
    QCoro::Task<void> adoptClaimedReviews();
    // The review's record, or a new pending one once it is kept; absent when neither can be
    // read or written.
    QCoro::Task<std::optional<ConversationBackupRecord>> pendingRecord(QUuid localID);
    // Writes the record; a failure is logged and leaves the earlier state on disk.
    QCoro::Task<void> keep(ConversationBackupRecord record);
    // Writes the records, then the choice, and marks the reviews taken as the account's; false
    // (logged) when the records or the choice could not be kept.
    QCoro::Task<bool> answerOffer(
        QList<ConversationBackupRecord> records, ConversationMigrationChoice choice);
    QCoro::Task<ConversationRecordSummary> summary(ConversationHistoryEntry entry);
    QCoro::Task<void> forget(ConversationHistoryEntry entry);
    // Forgets the conversation when the account says it is gone; the local review's id when
    // one was removed.
    QCoro::Task<std::optional<QUuid>> forgetDeleted(QUuid id);
    // Sets or lifts the deletion mark on the record of the entry's review, when it has one;
    // false when the record could not be read or written.
    QCoro::Task<bool> markDeletion(ConversationHistoryEntry entry, bool requested);
    // A conversation left the account, which makes room: the uploads it refused for want of room
    // are due at once.
    QCoro::Task<void> roomMade();
    // Sends the deletion that `markDeletion` wrote down and takes in the answer.
    [[nodiscard]] QCoro::Task<Result<ConversationDeletionOutcome>> sendDeletion(
        ConversationHistoryEntry entry);
    // Takes in the account's answer to a deletion: gone (or not found) forgets the conversation;
    // a wait for the partner or a refusal lifts the mark; without a real answer it stays.
    [[nodiscard]] QCoro::Task<Result<ConversationDeletionOutcome>> settleDeletion(
        ConversationHistoryEntry entry,
        std::expected<ConversationDeletionOutcome, ControlPlaneFailure> answer);

    std::shared_ptr<const ConversationContentClient> m_client;
    std::shared_ptr<DerivedResultRepository> m_results;
    // The reviews whose account is not known, for a service made for an account.
    std::shared_ptr<DerivedResultRepository> m_unclaimed;
    std::shared_ptr<ConversationBackupStore> m_store;
    Clock m_clock;
    std::optional<QUuid> m_account;
    // Reviews whose finish runs, by local id.
    QSet<QUuid> m_held;
    // Reviews of conversations the user discarded, by local id.
    QSet<QUuid> m_discarded;
};

} // namespace lumora
