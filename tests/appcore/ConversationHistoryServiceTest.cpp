#include "ServicesFixture.hpp"
#include "TestFiles.hpp"
#include "appcore/PairingService.hpp"
#include "domain/ConversationUploadPayload.hpp"
#include "domain/PairingPolicy.hpp"

#include <cmath>

namespace lumora {
namespace {

using testing::Computer;
using Display = ConversationBackupDisplayState;
constexpr auto deleteFailed = ConversationBackupServiceError::deleteFailed;
constexpr auto hideFailed = ConversationBackupServiceError::hideFailed;
constexpr auto refreshFailed = ConversationBackupServiceError::refreshFailed;

using ConversationHistoryServiceTest = testing::ServicesTest;

TEST_F(ConversationHistoryServiceTest, AccountPagesMergeWithLocalReviewsAndAFailingPageKeepsTheCache)
{
    Computer desk(account("Ada"));
    Computer laptop(account("Ada"));
    QList<QUuid> ids;
    for (int hours : { 1, 2, 3 })
        ids.append(laptop.accountID(laptop.backedUp(hoursAgo(hours))));
    const DerivedSessionResult stored = desk.backedUp(hoursAgo(4));
    const DerivedSessionResult waiting = desk.waiting(hoursAgo(5));
    ids.append(desk.accountID(stored));

    // Four conversations on the account, read two to a page.
    desk.probe->pageLimit = 2;
    test::awaitTask(desk.service->refreshServerHistory());
    EXPECT_EQ(desk.probe->pageRequests, 2);
    EXPECT_EQ(desk.cachedIDs(), ids);
    // One row per conversation, newest first; the desk's own copy is listed once.
    QList<std::tuple<QUuid, std::optional<QUuid>, Display>> rows;
    for (const auto& row : test::awaitTask(desk.service->history()))
        rows.append({ row.id, row.localID, row.backup });
    EXPECT_EQ(rows,
        (QList<std::tuple<QUuid, std::optional<QUuid>, Display>> { { ids[0], {}, Display::backedUp },
            { ids[1], {}, Display::backedUp }, { ids[2], {}, Display::backedUp },
            { ids[3], stored.id, Display::backedUp },
            { desk.accountID(waiting), waiting.id, Display::waiting } }));

    // A new conversation elsewhere, and the second page of the next refresh fails.
    laptop.backedUp(hoursAgo(0));
    desk.probe->failingPage = desk.probe->pageRequests + 2;
    log.take();
    EXPECT_EQ(test::awaitTask(desk.service->refreshServerHistory()), std::unexpected(refreshFailed));
    EXPECT_EQ(desk.cachedIDs(), ids);
    EXPECT_EQ(
        log.take(), QStringList { "conversation-backup: Conversation history refresh deferred: status_503" });

    // A server whose cursors never end is read for twenty pages.
    Computer endless(unreachable());
    endless.probe->endlessPages = ConversationRecordSummary {};
    endless.probe->endlessPages->id = ids[0];
    test::awaitTask(endless.service->refreshServerHistory());
    EXPECT_EQ(endless.cachedIDs(), QList<QUuid>(20, ids[0]));
}

TEST_F(ConversationHistoryServiceTest, ASharedDeletionWaitsForThePartnerAndEndsWithTheApproval)
{
    const auto adaClient = account("Ada");
    const auto bobClient = account("Bob");
    const auto invite = test::awaitTask(
        PairingService::create(adaClient, PairingPolicy::version.toString())->createInvite());
    const auto joining = PairingService::create(bobClient, PairingPolicy::version.toString());
    ASSERT_TRUE(test::awaitTask(joining->confirm(test::awaitTask(joining->redeem(invite->code))->inviteID)));
    Computer ada(adaClient);
    Computer bob(bobClient);
    const DerivedSessionResult review = ada.backedUp(hoursAgo(1));
    const QUuid id = ada.accountID(review);
    const ConversationHistoryEntry adaRow = *ada.row(id);

    const auto asked = test::awaitTask(ada.service->remove(adaRow));
    ASSERT_TRUE(asked && !asked->isDeleted());
    EXPECT_TRUE(asked->pendingDeletion()->requestedByMe);
    EXPECT_TRUE(ada.row(id) && ada.onThisComputer(review));

    test::awaitTask(bob.service->refreshServerHistory());
    const ConversationHistoryEntry bobRow = *bob.row(id);
    EXPECT_EQ(bobRow.pendingDeletion->requestedByMe, false);
    // Refused once, asked again, then approved.
    EXPECT_TRUE(test::awaitTask(bob.service->declineDeletion(bobRow)));
    EXPECT_TRUE(bob.row(id).has_value());
    EXPECT_FALSE(test::awaitTask(ada.service->remove(adaRow))->isDeleted());
    EXPECT_EQ(test::awaitTask(ada.service->refreshServerHistory()), QList<QUuid> {});
    ASSERT_TRUE(ada.row(id) && ada.row(id)->pendingDeletion);

    // Hidden from Ada's view on another computer of hers, it is no longer listed, yet it is
    // still on the account: nothing is forgotten.
    ASSERT_TRUE(test::awaitTask(adaClient->hideConversation(id)));
    EXPECT_EQ(test::awaitTask(ada.service->refreshServerHistory()), QList<QUuid> {});
    EXPECT_TRUE(ada.onThisComputer(review));
    ASSERT_TRUE(test::awaitTask(adaClient->unhideConversation(id)));
    test::awaitTask(ada.service->refreshServerHistory());
    ASSERT_TRUE(ada.row(id) && ada.row(id)->pendingDeletion);

    EXPECT_TRUE(test::awaitTask(bob.service->approveDeletion(bobRow)));
    EXPECT_FALSE(bob.row(id).has_value());
    EXPECT_EQ(test::awaitTask(bob.service->approveDeletion(bobRow)), std::unexpected(deleteFailed));

    // A refresh that fails part-way tells nothing: Ada's copy stays.
    ada.probe->failingPage = ada.probe->pageRequests + 1;
    EXPECT_EQ(test::awaitTask(ada.service->refreshServerHistory()), std::unexpected(refreshFailed));
    EXPECT_TRUE(ada.onThisComputer(review));
    EXPECT_TRUE(ada.row(id).has_value());
    // The next one no longer lists what she asked to delete: the partner agreed, and her
    // review, its record and its row go from her computer too.
    EXPECT_EQ(test::awaitTask(ada.service->refreshServerHistory()), QList { review.id });
    EXPECT_TRUE(ada.cachedIDs().isEmpty());
    EXPECT_FALSE(ada.onThisComputer(review));
    EXPECT_TRUE(ada.records().isEmpty());
    EXPECT_FALSE(ada.row(id).has_value());
}

// A deletion is written on the review's record before it is sent. Cut short after the account
// deleted (the answer lost, or the application killed before it took the answer in), it is
// sent again at the next start before the history is listed, and the account's "not found"
// finishes it; a refusal lifts the mark, and no upload goes out for a review being deleted.
TEST_F(ConversationHistoryServiceTest, ADeletionCutShortIsFinishedAtTheNextStart)
{
    Computer mac(account("Ada"));
    const DerivedSessionResult review = mac.backedUp(hoursAgo(2));
    const QUuid id = mac.accountID(review);
    mac.probe->loseNextDeletionReply = true;
    EXPECT_EQ(test::awaitTask(mac.service->remove(*mac.row(id))), std::unexpected(deleteFailed));
    EXPECT_TRUE(mac.onThisComputer(review));
    EXPECT_TRUE(mac.record(review.id)->deletionRequested);
    mac.reopenBackupState();
    test::awaitTask(mac.service->completeDeletions());
    EXPECT_FALSE(mac.onThisComputer(review));
    EXPECT_TRUE(mac.records().isEmpty());
    EXPECT_FALSE(mac.row(id).has_value());

    // A waiting review whose deletion got no answer is not uploaded meanwhile; the next run
    // that reaches the account finishes it.
    const DerivedSessionResult waiting = mac.waiting(hoursAgo(1));
    const qsizetype uploads = mac.probe->uploads.size();
    mac.probe->deletionFailures = { ControlPlaneError::rejected(503) };
    EXPECT_EQ(test::awaitTask(mac.service->remove(*mac.row(mac.accountID(waiting)))),
        std::unexpected(deleteFailed));
    test::awaitTask(mac.service->retryPending(mac.clock.addDays(1)));
    EXPECT_EQ(mac.probe->uploads.size(), uploads);
    mac.probe->deletionFailures = { TransportError { QNetworkReply::ConnectionRefusedError, "refused" } };
    test::awaitTask(mac.service->completeDeletions());
    EXPECT_TRUE(mac.onThisComputer(waiting));
    test::awaitTask(mac.service->completeDeletions());
    EXPECT_FALSE(mac.onThisComputer(waiting));

    // Refused for good: the mark goes, and nothing is sent again.
    const DerivedSessionResult kept = mac.backedUp(hoursAgo(3));
    mac.probe->deletionFailures = { ControlPlaneError::rejectedWithCode(400, "invalid_conversation_id") };
    EXPECT_EQ(
        test::awaitTask(mac.service->remove(*mac.row(mac.accountID(kept)))), std::unexpected(deleteFailed));
    EXPECT_FALSE(mac.record(kept.id)->deletionRequested);
    const int calls = mac.probe->otherCalls;
    test::awaitTask(mac.service->completeDeletions());
    EXPECT_EQ(mac.probe->otherCalls, calls);
    EXPECT_TRUE(mac.onThisComputer(kept));
}

TEST_F(ConversationHistoryServiceTest, ADeletionRemovesNothingWhenTheBackupStateCannotBeRead)
{
    Computer mac(account("Ada"));
    // On this computer only (the account refused it for good): removed here, the account not
    // asked.
    const DerivedSessionResult refused = mac.save(hoursAgo(2));
    mac.probe->uploadFailures = { ControlPlaneError::rejected(422) };
    test::awaitTask(mac.service->backUp(refused, mac.clock));
    EXPECT_TRUE(test::awaitTask(mac.service->remove(*mac.row(mac.accountID(refused))))->isDeleted());
    EXPECT_FALSE(mac.onThisComputer(refused));
    EXPECT_TRUE(mac.records().isEmpty());
    EXPECT_EQ(mac.probe->otherCalls, 0);

    // On the account too, but whether it is cannot be read: the state's key is gone.
    const DerivedSessionResult stored = mac.backedUp(hoursAgo(1));
    const ConversationHistoryEntry row = *mac.row(mac.accountID(stored));
    ASSERT_TRUE(test::awaitTask(mac.keys->remove(ConversationBackupStore::keyAccount())));
    mac.reopenBackupState();
    EXPECT_EQ(test::awaitTask(mac.service->remove(row)), std::unexpected(deleteFailed));
    EXPECT_TRUE(mac.onThisComputer(stored));
    EXPECT_EQ(mac.probe->otherCalls, 0);
}

// A review still waiting for its upload may be on the account already (the reply was lost): its
// deletion asks the account too, whose "not found" counts as deleted, so the row never comes
// back with the next refresh. Without an answer nothing is deleted.
TEST_F(ConversationHistoryServiceTest, AWaitingReviewIsDeletedOnTheAccountTooAndNeverComesBack)
{
    Computer mac(account("Ada"));
    const struct {
        const char* name;
        std::optional<ControlPlaneFailure> uploadFailure; // none: stored, its reply lost
        bool offlineAtDeletion;
        bool deleted;
    } rows[] = {
        { "arrived, reply lost", std::nullopt, false, true },
        { "never arrived", ControlPlaneError::rejected(503), false, true },
        { "never arrived, offline now", ControlPlaneError::rejected(503), true, false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const DerivedSessionResult review = mac.save(hoursAgo(1));
        if (row.uploadFailure)
            mac.probe->uploadFailures = { *row.uploadFailure };
        else
            mac.probe->loseNextUploadReply = true;
        EXPECT_EQ(test::awaitTask(mac.service->backUp(review, mac.clock)).kind(),
            ConversationBackupOutcome::Kind::retryLater);
        const QUuid id = mac.accountID(review);
        const ConversationHistoryEntry entry = *mac.row(id);
        const int asked = mac.probe->otherCalls;

        Computer offline(unreachable());
        const auto& service = row.offlineAtDeletion
            ? ConversationBackupService::create(offline.probe, mac.results, mac.store)
            : mac.service;
        const auto removed = test::awaitTask(service->remove(entry));
        EXPECT_EQ(removed.has_value(), row.deleted);
        EXPECT_EQ(mac.onThisComputer(review), !row.deleted);
        EXPECT_EQ(mac.record(review.id).has_value(), !row.deleted);
        EXPECT_EQ(mac.probe->otherCalls + offline.probe->otherCalls, asked + 1);

        test::awaitTask(mac.service->refreshServerHistory());
        EXPECT_FALSE(mac.cachedIDs().contains(id));
        EXPECT_EQ(mac.row(id).has_value(), !row.deleted);
    }
}

TEST_F(ConversationHistoryServiceTest, HiddenRowsAndReviewsFromTheAccount)
{
    Computer mac(account("Ada"));
    const DerivedSessionResult stored = mac.backedUp(hoursAgo(2));
    const DerivedSessionResult waiting = mac.waiting(hoursAgo(1));
    const ConversationHistoryEntry row = *mac.row(mac.accountID(stored));

    EXPECT_EQ(
        test::awaitTask(mac.service->hide(*mac.row(mac.accountID(waiting)))), std::unexpected(hideFailed));
    EXPECT_EQ(mac.probe->otherCalls, 0);
    EXPECT_TRUE(test::awaitTask(mac.service->hide(row)));
    EXPECT_TRUE(mac.cachedIDs().isEmpty());
    EXPECT_TRUE(mac.row(row.id)->isHidden);
    EXPECT_TRUE(test::awaitTask(mac.service->unhide(row)));
    EXPECT_EQ(mac.cachedIDs(), QList<QUuid> { row.id });
    EXPECT_FALSE(mac.row(row.id)->isHidden);

    // A review whose file went away comes from the account; offline it is unavailable.
    ASSERT_TRUE(test::awaitTask(mac.results->remove(stored.id)));
    EXPECT_EQ(test::awaitTask(mac.service->review(row))->transcript, stored.transcript);
    Computer offline(unreachable());
    EXPECT_EQ(test::awaitTask(offline.service->review(row)),
        std::unexpected(ConversationBackupServiceError::conversationUnavailable));
}

TEST(ConversationHistorySummaryTest, ARowNotInTheCacheBecomesAStoredSummaryWhateverItsNumbers)
{
    const QDateTime at = QDateTime::fromSecsSinceEpoch(1'000, Qt::UTC);
    const std::tuple<QDateTime, double, qint64, qint64> rows[] = {
        // completed, duration, then startedAt and durationSeconds
        { at.addMSecs(900), 95.9, 905, 95 },
        { at, 5'000, 1, 5'000 },
        { at, std::nan(""), 1'000, 0 },
        { at, INFINITY, 1, 10'000'000'000'000'000 },
        { at, -INFINITY, 10'000'000'000'001'000, -10'000'000'000'000'000 },
    };
    for (const auto& [completed, duration, startedAt, seconds] : rows) {
        ConversationHistoryEntry entry;
        entry.id = QUuid::createUuid();
        entry.title = "Budget";
        entry.completedAt = completed;
        entry.duration = duration;
        entry.mode = ConversationMode::checkin;
        entry.workspace = ConversationWorkspaceScope::previous;
        EXPECT_EQ(ConversationBackupService::summaryOf(entry),
            (ConversationRecordSummary { entry.id, "checkin", "stored", startedAt, 1'000, seconds, "Budget",
                1'000, ConversationWorkspaceScope::previous, std::nullopt, std::nullopt }));
    }
}

// An account whose storage holds one review of these computers and a half.
class FullAccountHistoryServiceTest : public testing::ServicesTest {
protected:
    QStringList extraServerArguments() const override
    {
        const auto body = ConversationUploadCodec::body(
            ConversationUploadPayload::fromResult(Computer::review(hoursAgo(1)), QUuid::createUuid()),
            ConversationUploadPayload::maximumBodyBytes);
        EXPECT_TRUE(body.has_value());
        return { "--storage-quota", QString::number(body.value_or(QByteArray()).size() * 3 / 2) };
    }
};

// A conversation deleted on another computer of the account makes room here too: the upload the
// full account refused goes with the refresh that finds the conversation gone, without waiting for
// its retry time; a refresh that finds nothing gone sends nothing.
TEST_F(FullAccountHistoryServiceTest, ADeletionOnAnotherComputerMakesRoomForTheWaitingUploadAtOnce)
{
    Computer desk(account("Ada"));
    Computer laptop(account("Ada"));
    const DerivedSessionResult first = laptop.backedUp(hoursAgo(3));
    ASSERT_TRUE(test::awaitTask(desk.service->refreshServerHistory()));
    const DerivedSessionResult second = desk.save(hoursAgo(2));
    EXPECT_EQ(test::awaitTask(desk.service->backUp(second, desk.clock)),
        ConversationBackupOutcome::retryLater("storage_quota_exceeded"));

    ASSERT_TRUE(test::awaitTask(laptop.service->remove(*laptop.row(laptop.accountID(first)))));
    ASSERT_TRUE(test::awaitTask(desk.service->refreshServerHistory()));
    EXPECT_EQ(desk.record(second.id)->state, ConversationBackupState::stored)
        << "the refused upload waits for its retry time although there is room";

    const DerivedSessionResult third = desk.save(hoursAgo(1));
    EXPECT_EQ(test::awaitTask(desk.service->backUp(third, desk.clock)),
        ConversationBackupOutcome::retryLater("storage_quota_exceeded"));
    const qsizetype uploads = desk.probe->uploads.size();
    ASSERT_TRUE(test::awaitTask(desk.service->refreshServerHistory()));
    EXPECT_EQ(desk.probe->uploads.size(), uploads);
}

} // namespace
} // namespace lumora
