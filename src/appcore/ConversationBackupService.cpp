#include "appcore/ConversationBackupService.hpp"

#include "appcore/AppcoreLog.hpp"
#include "appcore/ServiceFailureCode.hpp"
#include "domain/ConversationBackupPolicy.hpp"
#include "domain/ConversationHistoryMerge.hpp"
#include "domain/ConversationMigrationOffer.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "domain/ConversationUploadPayload.hpp"
#include "domain/OffThread.hpp"
#include "persistence/AccountResults.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/DerivedResultRepository.hpp"
#include "providers/ConversationContentClient.hpp"

#include <QHash>
#include <QLoggingCategory>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <qcoro/qcorofuture.h>

namespace lumora {

namespace {

ConversationBackupRecord newRecord(
    const QUuid& localID, ConversationBackupState state, const std::optional<QUuid>& account)
{
    return ConversationBackupRecord { localID, QUuid::createUuid(), state, 0, std::nullopt, std::nullopt,
        false, account };
}

QList<ConversationBackupRecord> newRecords(
    const QList<QUuid>& localIDs, ConversationBackupState state, const std::optional<QUuid>& account)
{
    QList<ConversationBackupRecord> records;
    records.reserve(localIDs.size());
    for (const QUuid& id : localIDs)
        records.append(newRecord(id, state, account));
    return records;
}

bool keptLocal(const ConversationBackupRecord& record)
{
    return record.state == ConversationBackupState::abandoned
        || record.state == ConversationBackupState::declined;
}

// Whole seconds of a value that may be anything a double holds: the fraction dropped, NaN as
// 0, and the range held far inside qint64 so that sums of two such values cannot overflow.
qint64 wholeSeconds(double seconds)
{
    constexpr double limit = 1e16;
    if (std::isnan(seconds))
        return 0;
    return qint64(std::trunc(std::clamp(seconds, -limit, limit)));
}

// The account's answer that it holds no such conversation (a 404 with its error code).
bool isGone(const ControlPlaneFailure& failure)
{
    const auto* refusal = std::get_if<ControlPlaneError>(&failure);
    return refusal && refusal->kind() == ControlPlaneError::Kind::rejectedWithCode
        && refusal->status() == 404;
}

} // namespace

std::shared_ptr<ConversationBackupService> ConversationBackupService::create(
    std::shared_ptr<const ConversationContentClient> client, std::shared_ptr<DerivedResultRepository> results,
    std::shared_ptr<ConversationBackupStore> store, Clock clock, std::optional<QUuid> account)
{
    return std::shared_ptr<ConversationBackupService>(new ConversationBackupService(
        std::move(client), std::move(results), std::move(store), std::move(clock), account));
}

ConversationBackupService::ConversationBackupService(std::shared_ptr<const ConversationContentClient> client,
    std::shared_ptr<DerivedResultRepository> results, std::shared_ptr<ConversationBackupStore> store,
    Clock clock, std::optional<QUuid> account)
    : m_client(std::move(client))
    , m_results(account ? std::make_shared<AccountResults>(results, account) : results)
    , m_unclaimed(account ? std::make_shared<AccountResults>(results, std::nullopt) : nullptr)
    , m_store(std::move(store))
    , m_clock(std::move(clock))
    , m_account(account)
{
}

ConversationBackupOutcome ConversationBackupService::outcome(const ControlPlaneFailure& failure)
{
    if (const auto* refusal = std::get_if<ControlPlaneError>(&failure)) {
        switch (refusal->kind()) {
        case ControlPlaneError::Kind::rejected:
            return ConversationBackupPolicy::outcome(refusal->status(), std::nullopt);
        case ControlPlaneError::Kind::rejectedWithCode:
            return ConversationBackupPolicy::outcome(refusal->status(), refusal->code());
        case ControlPlaneError::Kind::invalidResponse:
            break;
        }
    }
    return ConversationBackupPolicy::outcome(std::nullopt, ServiceFailureCode::of(failure));
}

// Upload and retries

const QString ConversationBackupService::stateUnavailableCode = QStringLiteral("backup_state_unavailable");
const QString ConversationBackupService::discardedCode = QStringLiteral("discarded");

QCoro::Task<std::optional<ConversationBackupRecord>> ConversationBackupService::pendingRecord(QUuid localID)
{
    // A record that cannot be read is not a missing one: a fresh record would send the review
    // again under another id, a duplicate on the account.
    auto found = co_await m_store->record(localID, m_account);
    if (!found)
        co_return std::nullopt;
    if (found->record)
        co_return std::move(found->record);
    // Nothing goes to the account before its record is kept: an upload without one would be
    // sent again, under a new id, once the review counts as unoffered.
    const ConversationBackupRecord fresh = newRecord(localID, ConversationBackupState::pending, m_account);
    if (!co_await m_store->upsert(fresh))
        co_return std::nullopt;
    co_return fresh;
}

QCoro::Task<void> ConversationBackupService::keep(ConversationBackupRecord record)
{
    if (!co_await m_store->upsert(record))
        qCWarning(backupLog, "The backup record could not be written; it keeps its earlier state.");
}

QCoro::Task<ConversationBackupOutcome> ConversationBackupService::backUp(
    DerivedSessionResult result, QDateTime now)
{
    const auto keepAlive = shared_from_this();
    if (m_discarded.contains(result.id))
        co_return ConversationBackupOutcome::abandoned(discardedCode);
    const std::optional<ConversationBackupRecord> found = co_await pendingRecord(result.id);
    if (!found) {
        qCWarning(
            backupLog, "Conversation history upload deferred: %s", qUtf8Printable(stateUnavailableCode));
        co_return ConversationBackupOutcome::retryLater(stateUnavailableCode);
    }
    const ConversationBackupRecord& current = *found;
    switch (current.state) {
    case ConversationBackupState::stored:
        co_return ConversationBackupOutcome::stored();
    case ConversationBackupState::abandoned:
    case ConversationBackupState::declined:
        co_return ConversationBackupOutcome::abandoned(
            current.lastFailureCode.value_or(QStringLiteral("not_pending")));
    case ConversationBackupState::pending:
        break;
    }

    // The body carries the whole review and may be shortened a few times to fit: made on a
    // pool thread.
    struct Encoded {
        std::expected<QByteArray, ConversationUploadCodecError> body;
    };
    const auto encoding = startOffThread([result = std::move(result), id = current.conversationID] {
        const auto payload = ConversationUploadPayload::fromResult(result, id);
        return Encoded { ConversationUploadCodec::body(
            payload, ConversationUploadPayload::maximumBodyBytes) };
    });
    const auto body = (*co_await qCoro(encoding).waitForFinished()).body;
    if (!body) {
        const auto tooLarge = ConversationBackupOutcome::abandoned(QStringLiteral("payload_too_large"));
        co_await keep(ConversationBackupPolicy::applying(tooLarge, current, now, QUuid::createUuid()));
        qCCritical(backupLog, "A conversation could not be prepared for the account history.");
        co_return tooLarge;
    }

    const auto stored = co_await m_client->storeConversation(*body);
    const ConversationBackupOutcome answered
        = stored ? ConversationBackupOutcome::stored() : outcome(stored.error());
    // On the account whatever the record says once stored: a record left pending sends the same id
    // again, which the account takes as the copy it holds.
    const ConversationBackupRecord updated = ConversationBackupPolicy::applying(
        answered, current, now, stored ? current.conversationID : QUuid::createUuid());
    co_await keep(updated);
    if (m_discarded.contains(current.localID)) {
        // Discarded while it was on its way: what the account may have taken is asked back, now
        // that the record says what was sent.
        (void)co_await discard(current.localID);
        co_return ConversationBackupOutcome::abandoned(discardedCode);
    }
    if (stored) {
        (void)co_await m_store->mergeCachedConversation(*stored, m_account);
        co_return answered;
    }
    qCWarning(backupLog, "Conversation history upload deferred: %s",
        qUtf8Printable(updated.lastFailureCode.value_or(QStringLiteral("unknown"))));
    co_return answered;
}

QCoro::Task<void> ConversationBackupService::retryPending(QDateTime now)
{
    const auto keepAlive = shared_from_this();
    // A review saved just before a quit or a crash has no record yet. Once the offer was
    // accepted it goes like any other: the offer that would have sent it is never shown again.
    if (const auto choice = co_await m_store->migrationChoice(m_account);
        choice && choice->choice == ConversationMigrationChoice::accepted) {
        if (const auto unoffered = co_await unofferedIDs(); unoffered && !unoffered->isEmpty()) {
            if (!co_await m_store->upsert(
                    newRecords(*unoffered, ConversationBackupState::pending, m_account)))
                qCWarning(backupLog, "The records of reviews saved before a quit could not be written.");
        }
    }
    const auto stored = co_await m_store->records(m_account);
    if (!stored)
        co_return;
    QList<ConversationBackupRecord> due;
    for (const ConversationBackupRecord& candidate : stored->records) {
        if (ConversationBackupPolicy::shouldAttempt(candidate, now) && !candidate.deletionRequested
            && !m_held.contains(candidate.localID) && !m_discarded.contains(candidate.localID))
            due.append(candidate);
    }
    if (due.isEmpty())
        co_return;

    const auto listed = co_await m_results->list();
    if (!listed)
        co_return;
    QHash<QUuid, DerivedSessionResult> byID;
    for (const DerivedSessionResult& result : listed->results) {
        if (!byID.contains(result.id))
            byID.insert(result.id, result);
    }
    // Oldest review first; a record without a listed review first of all.
    std::stable_sort(due.begin(), due.end(), [&](const auto& left, const auto& right) {
        const auto l = byID.constFind(left.localID);
        const auto r = byID.constFind(right.localID);
        if (r == byID.cend())
            return false;
        if (l == byID.cend())
            return true;
        return l->completedAt < r->completedAt;
    });

    for (const ConversationBackupRecord& next : due) {
        std::optional<DerivedSessionResult> result;
        if (const auto found = byID.constFind(next.localID); found != byID.cend()) {
            result = *found;
        } else {
            // The list leaves out files it cannot read, so only a load of this id tells a
            // review that is gone from one that is damaged; a damaged one keeps its record.
            auto loaded = co_await m_results->load(next.localID);
            if (!loaded)
                continue;
            if (!loaded->result) {
                (void)co_await m_store->removeRecord(next.localID, m_account);
                continue;
            }
            result = std::move(loaded->result);
        }
        const ConversationBackupOutcome attempt = co_await backUp(std::move(*result), now);
        if (attempt.kind() == ConversationBackupOutcome::Kind::retryLater)
            break;
    }
}

QCoro::Task<ConversationBackupService::BackUpHold> ConversationBackupService::holdBackUp(QUuid localID)
{
    const auto keepAlive = shared_from_this();
    m_held.insert(localID);
    BackUpHold hold(nullptr, [service = weak_from_this(), localID](void*) {
        if (const auto holding = service.lock())
            holding->m_held.remove(localID);
    });
    if (!co_await pendingRecord(localID))
        qCWarning(backupLog, "The record of a conversation being finished could not be written.");
    co_return hold;
}

void ConversationBackupService::withhold(QUuid localID)
{
    m_discarded.insert(localID);
    m_held.remove(localID);
}

QCoro::Task<bool> ConversationBackupService::discard(QUuid localID)
{
    const auto keepAlive = shared_from_this();
    withhold(localID);
    const auto found = co_await m_store->record(localID, m_account);
    if (!found)
        co_return false;
    if (!found->record)
        co_return true;
    const ConversationBackupRecord& record = *found->record;
    // Never sent, or refused: the account holds no copy.
    const bool mayBeOnTheAccount = record.state == ConversationBackupState::stored
        || (record.state == ConversationBackupState::pending && record.lastAttemptAt);
    if (!mayBeOnTheAccount)
        co_return (co_await m_store->removeRecord(localID, m_account)).has_value();
    ConversationHistoryEntry entry;
    entry.id = record.conversationID;
    entry.localID = localID;
    if (!co_await markDeletion(entry, true))
        co_return false;
    (void)co_await sendDeletion(std::move(entry));
    co_return true;
}

// The migration offer

QCoro::Task<std::optional<QList<DerivedSessionResult>>> ConversationBackupService::unoffered()
{
    const auto listed = co_await m_results->list();
    const auto stored = co_await m_store->records(m_account);
    // Without the records every review would look unoffered, and answering the offer would give
    // reviews already on the account new records under new ids.
    if (!stored)
        co_return std::nullopt;
    QList<DerivedSessionResult> reviews;
    if (listed) {
        // A review whose finish runs is the finish's to back up, not the offer's.
        for (const DerivedSessionResult& result : listed->results) {
            if (!m_held.contains(result.id))
                reviews.append(result);
        }
    }
    const QList<QUuid> ids = ConversationMigrationOffer::unofferedLocalIDs(idsOf(reviews), stored->records);
    reviews.removeIf([&ids](const DerivedSessionResult& result) { return !ids.contains(result.id); });
    co_return reviews;
}

QCoro::Task<std::optional<QList<QUuid>>> ConversationBackupService::unofferedIDs()
{
    const auto reviews = co_await unoffered();
    if (!reviews)
        co_return std::nullopt;
    co_return idsOf(*reviews);
}

QList<QUuid> ConversationBackupService::idsOf(const QList<DerivedSessionResult>& reviews)
{
    QList<QUuid> ids;
    ids.reserve(reviews.size());
    for (const DerivedSessionResult& review : reviews)
        ids.append(review.id);
    return ids;
}

QCoro::Task<QList<ConversationBackupService::Unclaimed>> ConversationBackupService::unclaimedOnOffer()
{
    if (!m_unclaimed)
        co_return QList<Unclaimed> {};
    const auto listed = co_await m_unclaimed->list();
    const auto stored = co_await m_store->records();
    if (!listed || !stored)
        co_return QList<Unclaimed> {};
    QHash<QUuid, ConversationBackupRecord> records;
    for (const ConversationBackupRecord& record : stored->records) {
        if (!records.contains(record.localID))
            records.insert(record.localID, record);
    }
    QList<Unclaimed> offered;
    for (const DerivedSessionResult& review : listed->results) {
        const auto record = records.constFind(review.id);
        if (record == records.cend()) {
            offered.append({ review, std::nullopt });
            continue;
        }
        // Already an account's, on an account (whose list would have proven it this one's), or
        // asked to be deleted: not for anyone to take.
        if (!record->accountID && record->state != ConversationBackupState::stored
            && !record->deletionRequested)
            offered.append({ review, *record });
    }
    co_return offered;
}

QCoro::Task<QList<ConversationHistoryEntry>> ConversationBackupService::conversationsOffered()
{
    const auto keepAlive = shared_from_this();
    auto own = co_await unoffered();
    QList<DerivedSessionResult> reviews;
    if (own)
        reviews = std::move(*own);
    const QList<Unclaimed> unclaimed = co_await unclaimedOnOffer();
    for (const Unclaimed& taken : unclaimed)
        reviews.append(taken.review);
    co_return ConversationHistoryMerge::entries(reviews, {}, {}, {});
}

QCoro::Task<bool> ConversationBackupService::answerOffer(
    QList<ConversationBackupRecord> records, ConversationMigrationChoice choice)
{
    // The answer is kept only with the records it gives: otherwise the reviews would stay
    // unoffered with the offer never shown again.
    bool kept = (co_await m_store->upsert(std::move(records))).has_value();
    if (kept)
        kept = (co_await m_store->setMigrationChoice(choice, m_account)).has_value();
    if (!kept)
        qCWarning(backupLog, "The answer to the migration offer could not be kept.");
    co_await adoptClaimedReviews();
    co_return kept;
}

QCoro::Task<std::optional<QList<ConversationBackupRecord>>> ConversationBackupService::takenFromOffer(
    ConversationBackupState state, std::optional<QList<QUuid>> chosen)
{
    const auto isChosen = [&chosen](const QUuid& id) { return !chosen || chosen->contains(id); };
    const std::optional<QList<QUuid>> own = co_await unofferedIDs();
    if (!own)
        co_return std::nullopt;
    QList<QUuid> ids = *own;
    ids.removeIf([&](const QUuid& id) { return !isChosen(id); });
    QList<ConversationBackupRecord> records = newRecords(ids, state, m_account);
    const QList<Unclaimed> offered = co_await unclaimedOnOffer();
    for (const Unclaimed& unclaimed : offered) {
        if (!isChosen(unclaimed.review.id))
            continue;
        // A record it has keeps its conversation id: an upload of it that arrived, its answer
        // lost, is then the same conversation.
        ConversationBackupRecord taken
            = unclaimed.record.value_or(newRecord(unclaimed.review.id, state, m_account));
        taken.state = state;
        taken.attempts = 0;
        taken.lastAttemptAt = std::nullopt;
        taken.accountID = m_account;
        records.append(std::move(taken));
    }
    co_return records;
}

QCoro::Task<void> ConversationBackupService::adoptClaimedReviews()
{
    if (!m_unclaimed)
        co_return;
    const auto listed = co_await m_unclaimed->list();
    const auto own = co_await m_store->records(m_account);
    if (!listed || !own)
        co_return;
    QSet<QUuid> owned;
    for (const ConversationBackupRecord& record : own->records)
        owned.insert(record.localID);
    for (const DerivedSessionResult& review : listed->results) {
        if (!owned.contains(review.id))
            continue;
        // Saved through the account's reviews, it is marked as the account's.
        const auto saved = co_await m_results->save(review);
        if (!saved)
            qCWarning(
                backupLog, "A review taken by its account could not be marked as its; it is tried again.");
    }
}

QCoro::Task<std::optional<ConversationMigrationChoice>> ConversationBackupService::migrationChoice()
{
    const auto keepAlive = shared_from_this();
    const auto stored = co_await m_store->migrationChoice(m_account);
    if (!stored)
        co_return std::nullopt;
    co_return stored->choice;
}

QCoro::Task<qint64> ConversationBackupService::conversationsAwaitingOffer()
{
    const auto keepAlive = shared_from_this();
    co_return (co_await conversationsOffered()).size();
}

QCoro::Task<void> ConversationBackupService::acceptMigration(
    QDateTime now, std::optional<QList<QUuid>> chosen)
{
    const auto keepAlive = shared_from_this();
    auto taken = co_await takenFromOffer(ConversationBackupState::pending, std::move(chosen));
    if (!taken)
        co_return;
    if (!co_await answerOffer(std::move(*taken), ConversationMigrationChoice::accepted))
        co_return;
    co_await retryPending(now);
}

QCoro::Task<void> ConversationBackupService::declineMigration(std::optional<QList<QUuid>> chosen)
{
    const auto keepAlive = shared_from_this();
    auto taken = co_await takenFromOffer(ConversationBackupState::declined, std::move(chosen));
    if (taken)
        co_await answerOffer(std::move(*taken), ConversationMigrationChoice::declined);
}

QCoro::Task<void> ConversationBackupService::backUpConversationsKeptLocal(QDateTime now)
{
    const auto keepAlive = shared_from_this();
    const auto stored = co_await m_store->records(m_account);
    if (!stored)
        co_return;
    QList<ConversationBackupRecord> resent;
    for (ConversationBackupRecord kept : stored->records) {
        if (!keptLocal(kept))
            continue;
        kept.state = ConversationBackupState::pending;
        kept.attempts = 0;
        kept.lastAttemptAt = std::nullopt;
        resent.append(kept);
    }
    const std::optional<QList<QUuid>> unoffered = co_await unofferedIDs();
    if (!unoffered)
        co_return;
    resent.append(newRecords(*unoffered, ConversationBackupState::pending, m_account));
    if (!co_await answerOffer(std::move(resent), ConversationMigrationChoice::accepted))
        co_return;
    co_await retryPending(now);
}

QCoro::Task<qint64> ConversationBackupService::conversationsKeptLocal()
{
    const auto keepAlive = shared_from_this();
    const auto stored = co_await m_store->records(m_account);
    if (!stored)
        co_return 0;
    const qint64 kept = std::ranges::count_if(stored->records, keptLocal);
    const std::optional<QList<QUuid>> unoffered = co_await unofferedIDs();
    co_return kept + (unoffered ? unoffered->size() : 0);
}

QCoro::Task<bool> ConversationBackupService::forgetEverything()
{
    const auto keepAlive = shared_from_this();
    if (m_account)
        co_return (co_await m_store->removeAccount(*m_account)).has_value();
    co_return (co_await m_store->removeAll()).has_value();
}

// The history list

QCoro::Task<ConversationBackupService::Result<QList<QUuid>>> ConversationBackupService::refreshServerHistory()
{
    const auto keepAlive = shared_from_this();
    QList<ConversationRecordSummary> listed;
    std::optional<QString> cursor;
    int pages = 0;
    bool complete = false;
    while (true) {
        auto page = co_await m_client->conversationPage(pageSize, cursor);
        if (!page) {
            qCWarning(backupLog, "Conversation history refresh deferred: %s",
                qUtf8Printable(ServiceFailureCode::of(page.error())));
            co_return std::unexpected(ConversationBackupServiceError::refreshFailed);
        }
        listed.append(page->conversations);
        complete = !page->nextCursor;
        if (complete || ++pages == maximumHistoryPages)
            break;
        cursor = std::move(page->nextCursor);
    }
    // Asked to be deleted by this user and no longer listed: the partner agreed. Only a whole
    // list says so; one cut short says nothing of what it did not reach.
    QList<QUuid> agreed;
    bool gone = false;
    if (complete) {
        QSet<QUuid> ids;
        for (const ConversationRecordSummary& summary : std::as_const(listed))
            ids.insert(summary.id);
        const auto cached = co_await m_store->cachedConversations(m_account);
        for (const ConversationRecordSummary& summary :
            cached ? cached->summaries : QList<ConversationRecordSummary> {}) {
            if (ids.contains(summary.id))
                continue;
            gone = true;
            if (summary.pendingDeletion && summary.pendingDeletion->requestedByMe)
                agreed.append(summary.id);
        }
    }
    co_await m_store->replaceCachedConversations(std::move(listed), m_clock(), m_account);
    // What this list holds is the account's: the reviews of it that name no account are its own.
    if (m_account) {
        if (!co_await m_store->claimListed(*m_account))
            qCWarning(backupLog, "The reviews the account's list holds could not be given to it.");
        co_await adoptClaimedReviews();
    }
    QList<QUuid> forgotten;
    for (const QUuid& id : std::as_const(agreed)) {
        if (auto local = co_await forgetDeleted(id))
            forgotten.append(*local);
    }
    // Gone from the list: deleted on another computer of the account, by the partner, or hidden
    // there. Whichever it was, it may have made room, which only the account can tell: the uploads
    // it refused for want of room are tried once now rather than at their retry time. A list that
    // lost nothing tries nothing.
    if (gone) {
        co_await roomMade();
        co_await retryPending(m_clock());
    }
    co_return forgotten;
}

QCoro::Task<std::optional<QUuid>> ConversationBackupService::forgetDeleted(QUuid id)
{
    // A list leaves out what the account hid on another computer too: the account itself says
    // whether the conversation is gone.
    const auto fetched = co_await m_client->conversation(id);
    if (fetched || !isGone(fetched.error()))
        co_return std::nullopt;
    const auto records = co_await m_store->records(m_account);
    if (!records)
        co_return std::nullopt;
    ConversationHistoryEntry entry;
    entry.id = id;
    const auto record = std::ranges::find(records->records, id, &ConversationBackupRecord::conversationID);
    if (record != records->records.end())
        entry.localID = record->localID;
    co_await forget(entry);
    co_await roomMade();
    co_return entry.localID;
}

QCoro::Task<QList<ConversationHistoryEntry>> ConversationBackupService::history()
{
    const auto keepAlive = shared_from_this();
    const auto local = co_await m_results->list();
    const auto server = co_await m_store->cachedConversations(m_account);
    const auto hidden = co_await m_store->hiddenConversations(m_account);
    const auto records = co_await m_store->records(m_account);
    const QList<DerivedSessionResult> noResults;
    const QList<ConversationRecordSummary> noSummaries;
    const QList<ConversationBackupRecord> noRecords;
    // The merge compares every review with every summary and record: done on a pool thread.
    const auto merging = startOffThread(
        [local = local ? local->results : noResults, server = server ? server->summaries : noSummaries,
            records = records ? records->records : noRecords,
            hidden = hidden ? hidden->summaries : noSummaries] {
            return ConversationHistoryMerge::entries(local, server, records, hidden);
        });
    co_return *co_await qCoro(merging).waitForFinished();
}

QCoro::Task<ConversationBackupService::Result<DerivedSessionResult>> ConversationBackupService::review(
    ConversationHistoryEntry entry)
{
    const auto keepAlive = shared_from_this();
    if (entry.localID) {
        auto loaded = co_await m_results->load(*entry.localID);
        if (loaded && loaded->result)
            co_return std::move(*loaded->result);
    }
    const auto fetched = co_await m_client->conversation(entry.id);
    if (!fetched) {
        co_return std::unexpected(std::holds_alternative<JsonDecodeError>(fetched.error())
                ? ConversationBackupServiceError::conversationUnreadable
                : ConversationBackupServiceError::conversationUnavailable);
    }
    co_return fetched->derivedResult();
}

QCoro::Task<ConversationBackupService::Result<ConversationDeletionOutcome>> ConversationBackupService::remove(
    ConversationHistoryEntry entry)
{
    const auto keepAlive = shared_from_this();
    if (entry.localID) {
        // Only a read that succeeds tells "on this computer only": after a failed one the
        // account may hold a copy that would come back with the next refresh. So may a pending
        // one, whose upload may have arrived with its reply lost: the account is asked too, and
        // its "not found" counts as deleted.
        const auto found = co_await m_store->record(*entry.localID, m_account);
        if (!found)
            co_return std::unexpected(ConversationBackupServiceError::deleteFailed);
        const bool mayBeOnTheAccount = found->record
            && (found->record->state == ConversationBackupState::stored
                || found->record->state == ConversationBackupState::pending);
        if (!mayBeOnTheAccount) {
            co_await forget(entry);
            co_return ConversationDeletionOutcome::deleted();
        }
    }
    // Written down first: a deletion that the account carries out while this computer's copy
    // stays (a kill before the answer, a lost answer) is finished by `completeDeletions`.
    if (!co_await markDeletion(entry, true))
        co_return std::unexpected(ConversationBackupServiceError::deleteFailed);
    co_return co_await sendDeletion(std::move(entry));
}

QCoro::Task<ConversationBackupService::Result<ConversationDeletionOutcome>>
ConversationBackupService::sendDeletion(ConversationHistoryEntry entry)
{
    auto answer = co_await m_client->deleteConversation(entry.id);
    co_return co_await settleDeletion(std::move(entry), std::move(answer));
}

QCoro::Task<ConversationBackupService::Result<ConversationDeletionOutcome>>
ConversationBackupService::settleDeletion(
    ConversationHistoryEntry entry, std::expected<ConversationDeletionOutcome, ControlPlaneFailure> answer)
{
    if (answer ? answer->isDeleted() : isGone(answer.error())) {
        co_await forget(entry);
        co_await roomMade();
        co_return answer ? ConversationDeletionOutcome::deleted()
                         : ConversationDeletionOutcome::alreadyGone();
    }
    // A wait for the partner and a refusal are the account's last word on this request; without
    // an answer (no reply, one it may have acted on) it is sent again later.
    const bool answered
        = answer || outcome(answer.error()).kind() == ConversationBackupOutcome::Kind::abandoned;
    if (answered)
        (void)co_await markDeletion(entry, false);
    if (!answer)
        co_return std::unexpected(ConversationBackupServiceError::deleteFailed);
    co_return *answer;
}

QCoro::Task<void> ConversationBackupService::completeDeletions()
{
    const auto keepAlive = shared_from_this();
    const auto stored = co_await m_store->records(m_account);
    if (!stored)
        co_return;
    for (const ConversationBackupRecord& record : stored->records) {
        if (!record.deletionRequested)
            continue;
        ConversationHistoryEntry entry;
        entry.id = record.conversationID;
        entry.localID = record.localID;
        auto answer = co_await m_client->deleteConversation(entry.id);
        const bool reached
            = answer || outcome(answer.error()).kind() != ConversationBackupOutcome::Kind::retryLater;
        (void)co_await settleDeletion(std::move(entry), std::move(answer));
        if (!reached)
            break;
    }
}

QCoro::Task<void> ConversationBackupService::roomMade()
{
    const auto stored = co_await m_store->records(m_account);
    if (!stored)
        co_return;
    QList<ConversationBackupRecord> due;
    for (ConversationBackupRecord record : stored->records) {
        if (!ConversationBackupPolicy::waitsForRoom(record))
            continue;
        // Without failed attempts the policy tries it at once; its code stays until it is sent.
        record.attempts = 0;
        due.append(std::move(record));
    }
    if (!due.isEmpty() && !co_await m_store->upsert(std::move(due)))
        qCWarning(backupLog, "The uploads waiting for room on the account could not be made due.");
}

QCoro::Task<bool> ConversationBackupService::markDeletion(ConversationHistoryEntry entry, bool requested)
{
    if (!entry.localID)
        co_return true;
    const auto found = co_await m_store->record(*entry.localID, m_account);
    if (!found)
        co_return false;
    if (!found->record || found->record->deletionRequested == requested)
        co_return true;
    ConversationBackupRecord marked = *found->record;
    marked.deletionRequested = requested;
    co_return (co_await m_store->upsert(std::move(marked))).has_value();
}

QCoro::Task<ConversationBackupService::Result<void>> ConversationBackupService::approveDeletion(
    ConversationHistoryEntry entry)
{
    const auto keepAlive = shared_from_this();
    // Written down as a deletion of this user's: sent again, the partner's request still open
    // makes it one at once, and a conversation already gone answers "not found".
    if (!co_await markDeletion(entry, true))
        co_return std::unexpected(ConversationBackupServiceError::deleteFailed);
    const auto approved = co_await m_client->approveConversationDeletion(entry.id);
    if (!approved) {
        if (outcome(approved.error()).kind() == ConversationBackupOutcome::Kind::abandoned)
            (void)co_await markDeletion(entry, false);
        co_return std::unexpected(ConversationBackupServiceError::deleteFailed);
    }
    co_await forget(entry);
    co_await roomMade();
    co_return Result<void> {};
}

QCoro::Task<ConversationBackupService::Result<void>> ConversationBackupService::declineDeletion(
    ConversationHistoryEntry entry)
{
    const auto keepAlive = shared_from_this();
    const auto declined = co_await m_client->declineConversationDeletion(entry.id);
    if (!declined)
        co_return std::unexpected(ConversationBackupServiceError::deleteFailed);
    co_return Result<void> {};
}

QCoro::Task<ConversationBackupService::Result<void>> ConversationBackupService::hide(
    ConversationHistoryEntry entry)
{
    const auto keepAlive = shared_from_this();
    if (entry.backup != ConversationBackupDisplayState::backedUp)
        co_return std::unexpected(ConversationBackupServiceError::hideFailed);
    const auto hidden = co_await m_client->hideConversation(entry.id);
    if (!hidden)
        co_return std::unexpected(ConversationBackupServiceError::hideFailed);
    const ConversationRecordSummary hiddenSummary = co_await summary(entry);
    co_await m_store->markHidden(hiddenSummary, m_account);
    co_return Result<void> {};
}

QCoro::Task<ConversationBackupService::Result<void>> ConversationBackupService::unhide(
    ConversationHistoryEntry entry)
{
    const auto keepAlive = shared_from_this();
    const auto shown = co_await m_client->unhideConversation(entry.id);
    if (!shown)
        co_return std::unexpected(ConversationBackupServiceError::hideFailed);
    co_await m_store->markUnhidden(entry.id, m_account);
    co_return Result<void> {};
}

QCoro::Task<ConversationRecordSummary> ConversationBackupService::summary(ConversationHistoryEntry entry)
{
    const auto cached = co_await m_store->cachedConversations(m_account);
    if (cached) {
        for (const ConversationRecordSummary& summary : cached->summaries) {
            if (summary.id == entry.id)
                co_return summary;
        }
    }
    co_return summaryOf(entry);
}

ConversationRecordSummary ConversationBackupService::summaryOf(const ConversationHistoryEntry& entry)
{
    const qint64 endedAt = entry.completedAt.isValid() ? entry.completedAt.toSecsSinceEpoch() : 0;
    const qint64 durationSeconds = wholeSeconds(entry.duration);
    ConversationRecordSummary built;
    built.id = entry.id;
    built.mode = entry.mode == ConversationMode::checkin ? QStringLiteral("checkin")
                                                         : QStringLiteral("conversation");
    built.status = QStringLiteral("stored");
    built.endedAt = endedAt;
    built.durationSeconds = durationSeconds;
    built.startedAt = std::max<qint64>(endedAt - durationSeconds, 1);
    built.title = entry.title;
    built.createdAt = endedAt;
    built.workspace = entry.workspace;
    built.turns = entry.turns;
    return built;
}

QCoro::Task<void> ConversationBackupService::forget(ConversationHistoryEntry entry)
{
    (void)co_await m_store->removeCachedConversation(entry.id, m_account);
    if (entry.localID) {
        (void)co_await m_results->remove(*entry.localID);
        (void)co_await m_store->removeRecord(*entry.localID, m_account);
    }
    // A copy of it that names no account goes too: the conversation is gone whoever kept it here.
    if (!m_unclaimed)
        co_return;
    const auto unclaimed = co_await m_store->unclaimedRecords();
    if (!unclaimed)
        co_return;
    for (const ConversationBackupRecord& record : unclaimed->records) {
        if (record.conversationID != entry.id)
            continue;
        const auto removed = co_await m_unclaimed->remove(record.localID);
        if (removed)
            (void)co_await m_store->removeRecord(record.localID);
    }
}

} // namespace lumora
