#include "ServicesFixture.hpp"
#include "TestFiles.hpp"

namespace lumora {
namespace {

using testing::Computer;
using testing::settle;
using Outcome = ConversationBackupOutcome;
using State = ConversationBackupState;

using ConversationBackupServiceTest = testing::ServicesTest;

ConversationBackupRecord pendingRecord(
    const DerivedSessionResult& review, QUuid conversationID = QUuid::createUuid())
{
    return ConversationBackupRecord { review.id, conversationID, State::pending, 0, std::nullopt,
        std::nullopt };
}

TEST_F(ConversationBackupServiceTest, BacksUpOnceAndARetryAfterALostReplyStoresNoDuplicate)
{
    Computer mac(account("Ada"));
    const QDateTime t0 = mac.clock;
    const DerivedSessionResult first = mac.save(hoursAgo(3));
    EXPECT_EQ(settle(mac.service->backUp(first, t0)), Outcome::stored());
    const auto stored = mac.record(first.id);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(
        *stored, (ConversationBackupRecord { first.id, stored->conversationID, State::stored, 0, t0, {} }));
    // The account's copy shows before the next refresh; a second call sends nothing.
    EXPECT_EQ(mac.cachedIDs(), QList<QUuid> { stored->conversationID });
    EXPECT_EQ(settle(mac.service->backUp(first, t0.addSecs(5))), Outcome::stored());
    EXPECT_EQ(mac.probe->uploads.size(), 1);

    // The server stores the second one but its reply is lost: the retry sends the same id.
    const DerivedSessionResult second = mac.save(hoursAgo(2));
    mac.probe->loseNextUploadReply = true;
    EXPECT_EQ(settle(mac.service->backUp(second, t0)), Outcome::retryLater("url_error_2"));
    EXPECT_EQ(
        log.take("conversation-backup"), QStringList { "Conversation history upload deferred: url_error_2" });
    const auto deferred = mac.record(second.id);
    ASSERT_TRUE(deferred.has_value());
    EXPECT_EQ(*deferred,
        (ConversationBackupRecord {
            second.id, deferred->conversationID, State::pending, 1, t0, QString("url_error_2") }));
    settle(mac.service->retryPending(t0.addSecs(59)));
    EXPECT_EQ(mac.probe->uploads.size(), 2);
    settle(mac.service->retryPending(t0.addSecs(60)));
    EXPECT_EQ(mac.probe->uploads.mid(1), QList<QUuid>(2, deferred->conversationID));
    EXPECT_EQ(mac.record(second.id)->state, State::stored);

    settle(mac.service->refreshServerHistory());
    EXPECT_EQ(mac.cachedIDs(), (QList<QUuid> { deferred->conversationID, stored->conversationID }));
}

TEST_F(ConversationBackupServiceTest, RetriesFollowTheScheduleOldestFirstAndStopAtTheFirstRetryLater)
{
    Computer mac(account("Ada"));
    const QDateTime t0 = mac.clock;
    const DerivedSessionResult monday = mac.save(hoursAgo(72));
    const DerivedSessionResult tuesday = mac.save(hoursAgo(48));
    const DerivedSessionResult wednesday = mac.save(hoursAgo(24));
    const QList<ConversationBackupRecord> records { pendingRecord(wednesday), pendingRecord(monday),
        pendingRecord(tuesday) };
    ASSERT_TRUE(settle(mac.store->upsert(records)));
    const QUuid mondayID = records[1].conversationID;

    // The oldest goes first, and its 503 ends the run: the others keep their state.
    mac.probe->uploadFailures = { ControlPlaneError::rejected(503) };
    settle(mac.service->retryPending(t0));
    EXPECT_EQ(mac.probe->uploads, QList<QUuid> { mondayID });
    EXPECT_EQ(mac.record(monday.id),
        (ConversationBackupRecord { monday.id, mondayID, State::pending, 1, t0, QString("status_503") }));
    EXPECT_EQ(mac.record(tuesday.id), records[2]);
    EXPECT_EQ(mac.record(wednesday.id), records[0]);
    EXPECT_EQ(
        log.take("conversation-backup"), QStringList { "Conversation history upload deferred: status_503" });

    // At +59 s Monday waits; the other two go, Tuesday before Wednesday.
    settle(mac.service->retryPending(t0.addSecs(59)));
    EXPECT_EQ(mac.probe->uploads,
        (QList<QUuid> { mondayID, records[2].conversationID, records[0].conversationID }));
    // Due at +60 s; a second 503 doubles the wait to 120 s.
    mac.probe->uploadFailures = { ControlPlaneError::rejected(503) };
    settle(mac.service->retryPending(t0.addSecs(60)));
    EXPECT_EQ(mac.record(monday.id)->attempts, 2);
    settle(mac.service->retryPending(t0.addSecs(179)));
    EXPECT_EQ(mac.probe->uploads.size(), 4);
    settle(mac.service->retryPending(t0.addSecs(180)));
    EXPECT_EQ(mac.probe->uploads.size(), 5);
    for (const auto& record : mac.records())
        EXPECT_EQ(record.state, State::stored);
}

TEST_F(ConversationBackupServiceTest, ARetryDropsTheRecordOfADeletedReviewButKeepsADamagedOne)
{
    Computer mac(account("Ada"));
    const DerivedSessionResult gone = mac.save(hoursAgo(3));
    const DerivedSessionResult damaged = mac.save(hoursAgo(2));
    const QList<ConversationBackupRecord> records { pendingRecord(gone), pendingRecord(damaged) };
    ASSERT_TRUE(settle(mac.store->upsert(records)));
    ASSERT_TRUE(settle(mac.results->remove(gone.id)));
    test::overwrite(mac.results->path(damaged.id));

    settle(mac.service->retryPending(mac.clock));
    EXPECT_TRUE(mac.probe->uploads.isEmpty());
    EXPECT_EQ(mac.records(), QList<ConversationBackupRecord> { records[1] });
}

TEST_F(ConversationBackupServiceTest, EachReplyLeavesItsOutcomeAndRecord)
{
    Computer mac(account("Ada"));
    const QDateTime t0 = mac.clock;

    // The server's own conflict: another account holds the id, so a fresh one is sent next.
    const DerivedSessionResult taken = mac.save(hoursAgo(5));
    const QUuid takenID = QUuid::createUuid();
    const auto bobs = ConversationUploadPayload::fromResult(taken, takenID);
    ASSERT_TRUE(settle(account("Bob")->storeConversation(*ConversationUploadCodec::body(bobs))));
    ASSERT_TRUE(settle(mac.store->upsert(pendingRecord(taken, takenID))));
    EXPECT_EQ(settle(mac.service->backUp(taken, t0)), Outcome::retryWithNewIdentifier());
    const auto conflicted = mac.record(taken.id);
    ASSERT_TRUE(conflicted.has_value());
    EXPECT_NE(conflicted->conversationID, takenID);
    EXPECT_EQ(*conflicted,
        (ConversationBackupRecord { taken.id, conflicted->conversationID, State::pending, 1, t0,
            QString("conversation_id_conflict") }));
    settle(mac.service->retryPending(t0.addSecs(60)));
    EXPECT_EQ(mac.probe->uploads, (QList<QUuid> { takenID, conflicted->conversationID }));
    EXPECT_EQ(mac.record(taken.id)->state, State::stored);
    log.take("conversation-backup");

    // Replies the control plane does not give for a valid upload.
    struct Row {
        ControlPlaneFailure reply;
        Outcome outcome;
        State state;
    };
    const Row rows[] = {
        { ControlPlaneError::rejectedWithCode(409, "duplicate_upload"),
            Outcome::abandoned("duplicate_upload"), State::abandoned },
        { ControlPlaneError::rejected(409), Outcome::abandoned("status_409"), State::abandoned },
        { ControlPlaneError::rejected(422), Outcome::abandoned("status_422"), State::abandoned },
        { ControlPlaneError::rejectedWithCode(429, "slow_down"), Outcome::retryLater("slow_down"),
            State::pending },
        { ControlPlaneError::invalidResponse(), Outcome::retryLater("invalid_response"), State::pending },
        { JsonDecodeError { "conversation: missing" }, Outcome::retryLater("offline"), State::pending },
    };
    for (const Row& row : rows) {
        const DerivedSessionResult review = mac.save(hoursAgo(4));
        mac.probe->uploadFailures = { row.reply };
        EXPECT_EQ(settle(mac.service->backUp(review, t0)), row.outcome)
            << row.outcome.failureCode().toStdString();
        EXPECT_EQ(mac.record(review.id)->state, row.state);
        EXPECT_EQ(mac.record(review.id)->lastFailureCode, row.outcome.failureCode());
        EXPECT_EQ(log.take("conversation-backup"),
            QStringList { "Conversation history upload deferred: " + row.outcome.failureCode() });
    }

    // No connection at all.
    Computer offline(unreachable());
    const DerivedSessionResult unsent = offline.save(hoursAgo(4));
    EXPECT_EQ(settle(offline.service->backUp(unsent, t0)), Outcome::retryLater("url_error_1"));
    EXPECT_EQ(
        log.take("conversation-backup"), QStringList { "Conversation history upload deferred: url_error_1" });

    // A summary no shortening can bring under the limit: nothing is sent.
    DerivedSessionResult huge = mac.save(hoursAgo(4));
    huge.summary = QString(1'100'000, QChar('a'));
    ASSERT_TRUE(settle(mac.results->save(huge)));
    const qsizetype sent = mac.probe->uploads.size();
    EXPECT_EQ(settle(mac.service->backUp(huge, t0)), Outcome::abandoned("payload_too_large"));
    EXPECT_EQ(mac.probe->uploads.size(), sent);
    EXPECT_EQ(mac.record(huge.id)->attempts, 1);
    EXPECT_EQ(log.take("conversation-backup"),
        QStringList { "A conversation could not be prepared for the account history." });

    // Kept on this computer: nothing is sent.
    const DerivedSessionResult kept = mac.save(hoursAgo(4));
    ConversationBackupRecord declined = pendingRecord(kept);
    declined.state = State::declined;
    ASSERT_TRUE(settle(mac.store->upsert(declined)));
    EXPECT_EQ(settle(mac.service->backUp(kept, t0)), Outcome::abandoned("not_pending"));
    EXPECT_EQ(settle(mac.service->backUp(huge, t0)), Outcome::abandoned("payload_too_large"));
    EXPECT_EQ(mac.probe->uploads.size(), sent);
}

TEST_F(ConversationBackupServiceTest, TheMigrationOfferIsAnsweredAndCanBeTakenBack)
{
    Computer mac(account("Ada"));
    const QDateTime t0 = mac.clock;
    const QList<DerivedSessionResult> reviews { mac.save(hoursAgo(1)), mac.save(hoursAgo(3)),
        mac.save(hoursAgo(2)) };
    EXPECT_EQ(settle(mac.service->conversationsAwaitingOffer()), 3);
    EXPECT_EQ(settle(mac.service->conversationsKeptLocal()), 3);
    EXPECT_EQ(settle(mac.service->migrationChoice()), std::nullopt);

    settle(mac.service->declineMigration());
    EXPECT_EQ(settle(mac.service->conversationsAwaitingOffer()), 0);
    EXPECT_EQ(settle(mac.service->conversationsKeptLocal()), 3);
    EXPECT_EQ(settle(mac.service->migrationChoice()), ConversationMigrationChoice::declined);
    EXPECT_TRUE(mac.probe->uploads.isEmpty());

    // One more review arrives unoffered; all four go, oldest first.
    const DerivedSessionResult later = mac.save(hoursAgo(4));
    settle(mac.service->backUpConversationsKeptLocal(t0));
    QList<QUuid> oldestFirst;
    for (const auto& review : { reviews[1], reviews[2], reviews[0] })
        oldestFirst.append(mac.record(review.id)->conversationID);
    oldestFirst.prepend(mac.record(later.id)->conversationID);
    EXPECT_EQ(mac.probe->uploads, oldestFirst);
    EXPECT_EQ(settle(mac.service->conversationsKeptLocal()), 0);
    EXPECT_EQ(settle(mac.service->migrationChoice()), ConversationMigrationChoice::accepted);

    settle(mac.service->forgetEverything());
    EXPECT_EQ(settle(mac.service->migrationChoice()), std::nullopt);
    EXPECT_EQ(settle(mac.service->conversationsAwaitingOffer()), 4);
    EXPECT_EQ(settle(mac.results->list())->results.size(), 4);

    // Accepting with nothing to offer still records the answer.
    Computer empty(account("Bob"));
    settle(empty.service->acceptMigration(t0));
    EXPECT_EQ(settle(empty.service->migrationChoice()), ConversationMigrationChoice::accepted);
    EXPECT_TRUE(empty.probe->uploads.isEmpty());
}

} // namespace
} // namespace lumora
