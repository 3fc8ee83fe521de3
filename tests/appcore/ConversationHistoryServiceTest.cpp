#include "ServicesFixture.hpp"
#include "appcore/PairingService.hpp"
#include "domain/PairingPolicy.hpp"

#include <cmath>
#include <limits>

namespace lumora {
namespace {

using testing::Computer;
using testing::settle;
using Error = ConversationBackupServiceError;
using Display = ConversationBackupDisplayState;

class ConversationHistoryServiceTest : public testing::ServicesTest {
protected:
    // The two accounts linked as partners through the pairing service.
    void link(
        const std::shared_ptr<ControlPlaneClient>& owner, const std::shared_ptr<ControlPlaneClient>& joiner)
    {
        const auto policy = PairingPolicy::version.toString();
        const auto invite = settle(PairingService::create(owner, policy)->createInvite());
        ASSERT_TRUE(invite.has_value());
        const auto joining = PairingService::create(joiner, policy);
        const auto redemption = settle(joining->redeem(invite->code));
        ASSERT_TRUE(redemption.has_value());
        ASSERT_TRUE(settle(joining->confirm(redemption->inviteID)).has_value());
    }

    static std::optional<ConversationHistoryEntry> rowOf(
        const QList<ConversationHistoryEntry>& rows, const QUuid& id)
    {
        for (const auto& row : rows) {
            if (row.id == id)
                return row;
        }
        return std::nullopt;
    }
};

TEST_F(ConversationHistoryServiceTest, AccountPagesMergeWithLocalReviewsAndAFailingPageKeepsTheCache)
{
    const auto ada = account("Ada");
    Computer desk(ada);
    Computer laptop(account("Ada"));
    QList<QUuid> fromLaptop;
    for (int hours : { 1, 2, 3, 4 }) {
        const DerivedSessionResult review = laptop.save(hoursAgo(hours));
        ASSERT_EQ(settle(laptop.service->backUp(review, laptop.clock)), ConversationBackupOutcome::stored());
        fromLaptop.append(laptop.record(review.id)->conversationID);
    }
    const DerivedSessionResult backedUp = desk.save(hoursAgo(5));
    ASSERT_EQ(settle(desk.service->backUp(backedUp, desk.clock)), ConversationBackupOutcome::stored());
    const DerivedSessionResult waiting = desk.save(hoursAgo(6));
    desk.probe->uploadFailures = { ControlPlaneError::rejected(503) };
    settle(desk.service->backUp(waiting, desk.clock));
    const QUuid backedUpID = desk.record(backedUp.id)->conversationID;

    // Five conversations on the account, read two to a page.
    desk.probe->pageLimit = 2;
    settle(desk.service->refreshServerHistory());
    EXPECT_EQ(desk.probe->pageRequests, 3);
    EXPECT_EQ(desk.cachedIDs(), fromLaptop + QList<QUuid> { backedUpID });

    // One row per conversation, newest first; the desk's own copy is not listed twice.
    const QList<ConversationHistoryEntry> rows = settle(desk.service->history());
    QList<QUuid> ids;
    for (const auto& row : rows)
        ids.append(row.id);
    EXPECT_EQ(ids, fromLaptop + (QList<QUuid> { backedUpID, desk.record(waiting.id)->conversationID }));
    EXPECT_EQ(rows[0].localID, std::nullopt);
    EXPECT_EQ(rows[0].backup, Display::backedUp);
    EXPECT_EQ(rows[4].localID, backedUp.id);
    EXPECT_EQ(rows[4].backup, Display::backedUp);
    EXPECT_EQ(rows[5].localID, waiting.id);
    EXPECT_EQ(rows[5].backup, Display::waiting);

    // A new conversation elsewhere, and the second page of the next refresh fails.
    ASSERT_EQ(settle(laptop.service->backUp(laptop.save(hoursAgo(0)), laptop.clock)),
        ConversationBackupOutcome::stored());
    desk.probe->failingPage = desk.probe->pageRequests + 2;
    log.take("conversation-backup");
    settle(desk.service->refreshServerHistory());
    EXPECT_EQ(desk.cachedIDs(), fromLaptop + QList<QUuid> { backedUpID });
    EXPECT_EQ(
        log.take("conversation-backup"), QStringList { "Conversation history refresh deferred: status_503" });
    settle(desk.service->refreshServerHistory());
    EXPECT_EQ(desk.cachedIDs().size(), 6);
}

TEST_F(ConversationHistoryServiceTest, ARefreshReadsTwentyPagesAtMost)
{
    Computer mac(unreachable());
    ConversationRecordSummary row;
    row.id = QUuid::createUuid();
    row.mode = "conversation";
    row.status = "stored";
    mac.probe->endlessPages = row;
    settle(mac.service->refreshServerHistory());
    EXPECT_EQ(mac.probe->pageRequests, 20);
    EXPECT_EQ(mac.cachedIDs(), QList<QUuid>(20, row.id));
}

TEST_F(ConversationHistoryServiceTest, ASharedDeletionWaitsForThePartnerAndEndsWithTheApproval)
{
    const auto adaClient = account("Ada");
    const auto bobClient = account("Bob");
    link(adaClient, bobClient);
    Computer ada(adaClient);
    Computer bob(bobClient);
    const DerivedSessionResult review = ada.save(hoursAgo(1));
    ASSERT_EQ(settle(ada.service->backUp(review, ada.clock)), ConversationBackupOutcome::stored());
    const QUuid id = ada.record(review.id)->conversationID;
    const auto adaRow = rowOf(settle(ada.service->history()), id);
    ASSERT_TRUE(adaRow.has_value());
    EXPECT_EQ(adaRow->localID, review.id);

    const auto asked = settle(ada.service->remove(*adaRow));
    ASSERT_TRUE(asked.has_value());
    ASSERT_FALSE(asked->isDeleted());
    EXPECT_TRUE(asked->pendingDeletion()->requestedByMe);
    EXPECT_GT(asked->pendingDeletion()->expiresAt, asked->pendingDeletion()->requestedAt);
    // Nothing changes here until the partner answers.
    EXPECT_TRUE(rowOf(settle(ada.service->history()), id).has_value());
    EXPECT_TRUE(settle(ada.results->load(review.id))->result.has_value());

    settle(bob.service->refreshServerHistory());
    auto bobRow = rowOf(settle(bob.service->history()), id);
    ASSERT_TRUE(bobRow.has_value());
    ASSERT_TRUE(bobRow->pendingDeletion.has_value());
    EXPECT_FALSE(bobRow->pendingDeletion->requestedByMe);
    // Refused once, asked again, then approved.
    EXPECT_TRUE(settle(bob.service->declineDeletion(*bobRow)).has_value());
    EXPECT_TRUE(rowOf(settle(bob.service->history()), id).has_value());
    EXPECT_FALSE(settle(ada.service->remove(*adaRow))->isDeleted());
    EXPECT_TRUE(settle(bob.service->approveDeletion(*bobRow)).has_value());
    EXPECT_FALSE(rowOf(settle(bob.service->history()), id).has_value());
    EXPECT_EQ(settle(bob.service->approveDeletion(*bobRow)), std::unexpected(Error::deleteFailed));

    // Ada's next refresh no longer lists it; her own review stays until she deletes it, which
    // the account, no longer holding it, confirms with a 404.
    settle(ada.service->refreshServerHistory());
    EXPECT_TRUE(ada.cachedIDs().isEmpty());
    EXPECT_TRUE(settle(ada.results->load(review.id))->result.has_value());
    EXPECT_TRUE(settle(ada.service->remove(*adaRow))->isDeleted());
    EXPECT_FALSE(settle(ada.results->load(review.id))->result.has_value());
    EXPECT_EQ(ada.record(review.id), std::nullopt);
}

TEST_F(ConversationHistoryServiceTest, ADeletionThatCannotTellWhereTheConversationIsRemovesNothing)
{
    Computer mac(account("Ada"));
    // On this computer only: removed here, the account not asked.
    const DerivedSessionResult waiting = mac.save(hoursAgo(2));
    mac.probe->uploadFailures = { ControlPlaneError::rejected(503) };
    settle(mac.service->backUp(waiting, mac.clock));
    const auto waitingRow = rowOf(settle(mac.service->history()), mac.record(waiting.id)->conversationID);
    ASSERT_TRUE(waitingRow.has_value());
    EXPECT_TRUE(settle(mac.service->remove(*waitingRow))->isDeleted());
    EXPECT_FALSE(settle(mac.results->load(waiting.id))->result.has_value());
    EXPECT_TRUE(mac.records().isEmpty());
    EXPECT_TRUE(mac.probe->calls.isEmpty());

    // On the account too, but the backup state cannot be read.
    const DerivedSessionResult stored = mac.save(hoursAgo(1));
    ASSERT_EQ(settle(mac.service->backUp(stored, mac.clock)), ConversationBackupOutcome::stored());
    const auto storedRow = rowOf(settle(mac.service->history()), mac.record(stored.id)->conversationID);
    ASSERT_TRUE(storedRow.has_value());
    mac.damageBackupState();
    EXPECT_EQ(settle(mac.service->remove(*storedRow)), std::unexpected(Error::deleteFailed));
    EXPECT_TRUE(settle(mac.results->load(stored.id))->result.has_value());
    EXPECT_TRUE(mac.probe->calls.isEmpty());
}

TEST_F(ConversationHistoryServiceTest, HidingReviewsAndTheirSummaries)
{
    Computer mac(account("Ada"));
    const DerivedSessionResult stored = mac.save(hoursAgo(2));
    ASSERT_EQ(settle(mac.service->backUp(stored, mac.clock)), ConversationBackupOutcome::stored());
    const DerivedSessionResult waiting = mac.save(hoursAgo(1));
    mac.probe->uploadFailures = { ControlPlaneError::rejected(503) };
    settle(mac.service->backUp(waiting, mac.clock));
    const QUuid id = mac.record(stored.id)->conversationID;
    const auto rows = settle(mac.service->history());

    EXPECT_EQ(settle(mac.service->hide(rows[0])), std::unexpected(Error::hideFailed));
    EXPECT_TRUE(mac.probe->calls.isEmpty());
    ASSERT_EQ(rows[1].id, id);
    EXPECT_TRUE(settle(mac.service->hide(rows[1])).has_value());
    EXPECT_TRUE(mac.cachedIDs().isEmpty());
    EXPECT_TRUE(rowOf(settle(mac.service->history()), id)->isHidden);
    EXPECT_TRUE(settle(mac.service->unhide(rows[1])).has_value());
    EXPECT_EQ(mac.cachedIDs(), QList<QUuid> { id });
    EXPECT_FALSE(rowOf(settle(mac.service->history()), id)->isHidden);

    // A review whose file went away is fetched from the account; without it, and offline,
    // it is unavailable.
    ASSERT_TRUE(settle(mac.results->remove(stored.id)));
    const auto fetched = settle(mac.service->review(rows[1]));
    ASSERT_TRUE(fetched.has_value());
    EXPECT_EQ(fetched->summary, stored.summary);
    EXPECT_EQ(fetched->transcript, stored.transcript);
    Computer offline(unreachable());
    EXPECT_EQ(settle(offline.service->review(rows[1])), std::unexpected(Error::conversationUnavailable));
    EXPECT_EQ(settle(offline.service->unhide(rows[1])), std::unexpected(Error::hideFailed));
}

TEST(ConversationHistorySummaryTest, ARowNotInTheCacheBecomesAStoredSummary)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        QDateTime completedAt;
        double duration;
        qint64 endedAt;
        qint64 durationSeconds;
        qint64 startedAt;
    };
    const Row rows[] = {
        { QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC).addMSecs(900), 95.9, 1'800'000'000, 95,
            1'799'999'905 },
        { QDateTime::fromSecsSinceEpoch(50, Qt::UTC), 95, 50, 95, 1 },
        { QDateTime::fromSecsSinceEpoch(1'000, Qt::UTC), std::nan(""), 1'000, 0, 1'000 },
        { QDateTime::fromSecsSinceEpoch(1'000, Qt::UTC), inf, 1'000, 10'000'000'000'000'000, 1 },
        { QDateTime::fromSecsSinceEpoch(1'000, Qt::UTC), -inf, 1'000, -10'000'000'000'000'000,
            10'000'000'000'001'000 },
        { QDateTime(), 10, 0, 10, 1 },
    };
    for (const Row& row : rows) {
        ConversationHistoryEntry entry;
        entry.id = QUuid::createUuid();
        entry.title = "Budget";
        entry.completedAt = row.completedAt;
        entry.duration = row.duration;
        entry.mode = ConversationMode::checkin;
        entry.workspace = ConversationWorkspaceScope::previous;
        const ConversationRecordSummary summary = ConversationBackupService::summaryOf(entry);
        EXPECT_EQ(summary,
            (ConversationRecordSummary { entry.id, "checkin", "stored", row.startedAt, row.endedAt,
                row.durationSeconds, QString("Budget"), row.endedAt, ConversationWorkspaceScope::previous,
                std::nullopt }))
            << row.duration;
    }
}

} // namespace
} // namespace lumora
