#include "ServicesFixture.hpp"
#include "TestFiles.hpp"

namespace lumora {
namespace {

using testing::Computer;
using Outcome = ConversationBackupOutcome;
using State = ConversationBackupState;
using Record = ConversationBackupRecord;

using ConversationBackupServiceTest = testing::ServicesTest;

Record pending(const DerivedSessionResult& review, QUuid conversationID = QUuid::createUuid())
{
    return Record { review.id, conversationID, State::pending, 0, std::nullopt, std::nullopt };
}

TEST_F(ConversationBackupServiceTest, BacksUpOnceAndARetryAfterALostReplyStoresNoDuplicate)
{
    Computer mac(account("Ada"));
    const QDateTime t0 = mac.clock;
    const DerivedSessionResult first = mac.backedUp(hoursAgo(3));
    const QUuid firstID = mac.accountID(first);
    EXPECT_EQ(mac.record(first.id), (Record { first.id, firstID, State::stored, 0, t0, {} }));
    EXPECT_EQ(mac.cachedIDs(), QList<QUuid> { firstID });
    EXPECT_EQ(test::awaitTask(mac.service->backUp(first, t0)), Outcome::stored());
    EXPECT_EQ(mac.probe->uploads.size(), 1);

    // The server stores the second one but its reply is lost: the retry sends the same id.
    const DerivedSessionResult second = mac.save(hoursAgo(2));
    mac.probe->loseNextUploadReply = true;
    EXPECT_EQ(test::awaitTask(mac.service->backUp(second, t0)), Outcome::retryLater("url_error_2"));
    EXPECT_EQ(
        log.take(), QStringList { "conversation-backup: Conversation history upload deferred: url_error_2" });
    const QUuid secondID = mac.accountID(second);
    EXPECT_EQ(mac.record(second.id),
        (Record { second.id, secondID, State::pending, 1, t0, QString("url_error_2") }));
    test::awaitTask(mac.service->retryPending(t0.addSecs(60)));
    EXPECT_EQ(mac.probe->uploads, (QList<QUuid> { firstID, secondID, secondID }));
    test::awaitTask(mac.service->refreshServerHistory());
    EXPECT_EQ(mac.cachedIDs(), (QList<QUuid> { secondID, firstID }));
}

TEST_F(ConversationBackupServiceTest, RetriesKeepTheScheduleGoOldestFirstAndStopAtTheFirstRetryLater)
{
    Computer mac(account("Ada"));
    const QDateTime t0 = mac.clock;
    const DerivedSessionResult monday = mac.save(hoursAgo(72));
    const DerivedSessionResult tuesday = mac.save(hoursAgo(48));
    const DerivedSessionResult wednesday = mac.save(hoursAgo(24));
    const QList<Record> records { pending(wednesday), pending(monday), pending(tuesday) };
    ASSERT_TRUE(test::awaitTask(mac.store->upsert(records)));
    const QUuid mondayID = records[1].conversationID;

    // Monday goes first, and its 503 ends the run: the others keep their state.
    mac.probe->uploadFailures = { ControlPlaneError::rejected(503) };
    test::awaitTask(mac.service->retryPending(t0));
    EXPECT_EQ(mac.records(),
        (QList<Record> {
            records[0], { monday.id, mondayID, State::pending, 1, t0, "status_503" }, records[2] }));
    // At +59 s Monday waits and the other two go, Tuesday first; at +60 s Monday's second
    // 503 doubles its wait to 120 s.
    test::awaitTask(mac.service->retryPending(t0.addSecs(59)));
    mac.probe->uploadFailures = { ControlPlaneError::rejected(503) };
    test::awaitTask(mac.service->retryPending(t0.addSecs(60)));
    test::awaitTask(mac.service->retryPending(t0.addSecs(179)));
    EXPECT_EQ(mac.probe->uploads,
        (QList<QUuid> { mondayID, records[2].conversationID, records[0].conversationID, mondayID }));
    test::awaitTask(mac.service->retryPending(t0.addSecs(180)));
    EXPECT_EQ(mac.probe->uploads.size(), 5);
    EXPECT_EQ(mac.record(monday.id)->state, State::stored);
}

// A review whose finish runs gets its pending record at once, so that a finish cut short still
// reaches the account, but no retry sends it, nor does the migration offer count it, until the
// finish lets it go.
TEST_F(ConversationBackupServiceTest, AReviewHeldByItsFinishWaitsForItButIsNeverUnoffered)
{
    Computer mac(account("Ada"));
    const DerivedSessionResult finishing = mac.save(hoursAgo(0));
    const auto held = test::awaitTask(mac.service->holdBackUp(finishing.id));
    EXPECT_EQ(mac.record(finishing.id)->state, State::pending);
    test::awaitTask(mac.service->retryPending(mac.clock));
    EXPECT_TRUE(mac.probe->uploads.isEmpty());
    EXPECT_EQ(test::awaitTask(mac.service->conversationsAwaitingOffer()), 0);

    // The next start holds nothing back.
    mac.reopenBackupState();
    test::awaitTask(mac.service->retryPending(mac.clock));
    EXPECT_EQ(mac.probe->uploads, QList<QUuid> { mac.accountID(finishing) });
    EXPECT_EQ(mac.record(finishing.id)->state, State::stored);
}

// A conversation the user discarded reaches the account no more. A review never sent loses its
// record without a request; one an upload may have reached (stored, or sent without an answer) is
// asked back from the account, and forgotten once it answers; one discarded while its upload is on
// its way is asked back as soon as the answer comes. Nothing sends any of them again.
TEST_F(ConversationBackupServiceTest, ADiscardedConversationIsWithdrawnAndNeverSentAgain)
{
    Computer mac(account("Ada"));
    const DerivedSessionResult unsent = mac.save(hoursAgo(4));
    const auto held = test::awaitTask(mac.service->holdBackUp(unsent.id));
    const DerivedSessionResult stored = mac.backedUp(hoursAgo(3));
    const DerivedSessionResult replyLost = mac.save(hoursAgo(2));
    mac.probe->loseNextUploadReply = true;
    test::awaitTask(mac.service->backUp(replyLost, mac.clock));
    ASSERT_EQ(mac.record(replyLost.id)->state, State::pending);
    (void)log.take();

    const int asked = mac.probe->otherCalls;
    EXPECT_TRUE(test::awaitTask(mac.service->discard(unsent.id)));
    EXPECT_EQ(mac.probe->otherCalls, asked) << "nothing of it was ever sent";
    for (const DerivedSessionResult& sent : { stored, replyLost })
        EXPECT_TRUE(test::awaitTask(mac.service->discard(sent.id)));
    EXPECT_EQ(mac.probe->otherCalls, asked + 2);
    EXPECT_EQ(mac.records(), QList<Record> {});

    const DerivedSessionResult onItsWay = mac.save(hoursAgo(1));
    mac.probe->onUpload = [&] { mac.service->withhold(onItsWay.id); };
    EXPECT_EQ(test::awaitTask(mac.service->backUp(onItsWay, mac.clock)), Outcome::abandoned("discarded"));
    mac.probe->onUpload = {};
    EXPECT_EQ(mac.records(), QList<Record> {});
    test::awaitTask(mac.service->refreshServerHistory());
    EXPECT_EQ(mac.cachedIDs(), QList<QUuid> {}) << "the account holds none of them";

    const qsizetype uploads = mac.probe->uploads.size();
    for (const DerivedSessionResult& review : { unsent, stored, replyLost, onItsWay })
        EXPECT_EQ(test::awaitTask(mac.service->backUp(review, mac.clock)), Outcome::abandoned("discarded"));
    ASSERT_TRUE(test::awaitTask(mac.store->upsert(pending(unsent))));
    test::awaitTask(mac.service->retryPending(mac.clock.addDays(1)));
    EXPECT_EQ(mac.probe->uploads.size(), uploads);
}

TEST_F(ConversationBackupServiceTest, ARetryDropsTheRecordOfADeletedReviewButKeepsADamagedOne)
{
    Computer mac(account("Ada"));
    const DerivedSessionResult gone = mac.save(hoursAgo(3));
    const DerivedSessionResult damaged = mac.save(hoursAgo(2));
    const QList<Record> records { pending(gone), pending(damaged) };
    ASSERT_TRUE(test::awaitTask(mac.store->upsert(records)));
    ASSERT_TRUE(test::awaitTask(mac.results->remove(gone.id)));
    test::overwrite(mac.results->path(damaged.id));

    test::awaitTask(mac.service->retryPending(mac.clock));
    EXPECT_TRUE(mac.probe->uploads.isEmpty());
    EXPECT_EQ(mac.records(), QList<Record> { records[1] });
}

TEST_F(ConversationBackupServiceTest, EachReplyLeavesItsOutcomeRecordAndLogLine)
{
    Computer mac(account("Ada"));
    const QDateTime t0 = mac.clock;
    // Another account holds the id: the next retry sends a fresh one.
    const DerivedSessionResult taken = mac.save(hoursAgo(5));
    const QUuid takenID = QUuid::createUuid();
    const auto bobs = ConversationUploadPayload::fromResult(taken, takenID);
    ASSERT_TRUE(test::awaitTask(account("Bob")->storeConversation(*ConversationUploadCodec::body(bobs))));
    ASSERT_TRUE(test::awaitTask(mac.store->upsert(pending(taken, takenID))));
    EXPECT_EQ(test::awaitTask(mac.service->backUp(taken, t0)), Outcome::retryWithNewIdentifier());
    const QUuid freshID = mac.accountID(taken);
    EXPECT_NE(freshID, takenID);
    EXPECT_EQ(mac.record(taken.id),
        (Record { taken.id, freshID, State::pending, 1, t0, "conversation_id_conflict" }));
    test::awaitTask(mac.service->retryPending(t0.addSecs(60)));
    EXPECT_EQ(mac.probe->uploads, (QList<QUuid> { takenID, freshID }));
    log.take();

    // Replies the control plane does not give to a valid upload, and no connection at all.
    const std::pair<ControlPlaneFailure, Outcome> rows[] = {
        { ControlPlaneError::rejectedWithCode(409, "duplicate"), Outcome::abandoned("duplicate") },
        { ControlPlaneError::rejected(422), Outcome::abandoned("status_422") },
        { ControlPlaneError::invalidResponse(), Outcome::retryLater("invalid_response") },
        { JsonDecodeError { "conversation: missing" }, Outcome::retryLater("offline") },
    };
    for (const auto& [reply, outcome] : rows) {
        const DerivedSessionResult review = mac.save(hoursAgo(4));
        mac.probe->uploadFailures = { reply };
        EXPECT_EQ(test::awaitTask(mac.service->backUp(review, t0)), outcome);
        EXPECT_EQ(mac.record(review.id)->lastFailureCode, outcome.failureCode());
    }
    Computer offline(unreachable());
    EXPECT_EQ(test::awaitTask(offline.service->backUp(offline.save(hoursAgo(4)), t0)),
        Outcome::retryLater("url_error_1"));
    QStringList deferred;
    for (const char* code : { "duplicate", "status_422", "invalid_response", "offline", "url_error_1" })
        deferred.append(QString("conversation-backup: Conversation history upload deferred: ") + code);
    EXPECT_EQ(log.take(), deferred);

    // Too large even when shortened, or kept on this computer: nothing is sent.
    DerivedSessionResult huge = mac.save(hoursAgo(4));
    // Statistics are never shortened (the texts are cut to their bounds).
    huge.stats = QList<SpeakerStats>(20'000, SpeakerStats { 0, 1.5, 3, 1.25, 0.5 });
    const Record declined { huge.id, QUuid::createUuid(), State::declined, 0, {}, {} };
    const qsizetype sent = mac.probe->uploads.size();
    EXPECT_EQ(test::awaitTask(mac.service->backUp(huge, t0)), Outcome::abandoned("payload_too_large"));
    EXPECT_EQ(log.take(),
        QStringList { "conversation-backup: A conversation could not be prepared for the account history." });
    EXPECT_EQ(test::awaitTask(mac.service->backUp(huge, t0)), Outcome::abandoned("payload_too_large"));
    ASSERT_TRUE(test::awaitTask(mac.store->upsert(declined)));
    EXPECT_EQ(test::awaitTask(mac.service->backUp(huge, t0)), Outcome::abandoned("not_pending"));
    EXPECT_EQ(mac.probe->uploads.size(), sent);
}

// Nothing goes to the account without a record kept for it: a record that cannot be read is not
// a missing one, and one that cannot be written is not made. Either would send the review again
// under a new id, a duplicate on the account.
TEST_F(ConversationBackupServiceTest, NothingIsSentWhileTheBackupStateCannotBeReadOrWritten)
{
    Computer mac(account("Ada"));
    const DerivedSessionResult stored = mac.backedUp(hoursAgo(3));
    const Record storedRecord = *mac.record(stored.id);
    const DerivedSessionResult later = mac.save(hoursAgo(1));
    const QString stateKey = ConversationBackupStore::keyAccount();
    const Outcome waits = Outcome::retryLater(ConversationBackupService::stateUnavailableCode);
    const QString deferred
        = "conversation-backup: Conversation history upload deferred: " + waits.failureCode();
    log.take();

    // Unreadable from the start: nothing is sent, offered or answered.
    mac.keys->failingReads.insert(stateKey);
    mac.reopenBackupState();
    EXPECT_EQ(test::awaitTask(mac.service->backUp(stored, mac.clock)), waits);
    EXPECT_EQ(test::awaitTask(mac.service->backUp(later, mac.clock)), waits);
    EXPECT_EQ(test::awaitTask(mac.service->conversationsAwaitingOffer()), 0);
    EXPECT_EQ(test::awaitTask(mac.service->conversationsKeptLocal()), 0);
    test::awaitTask(mac.service->acceptMigration(mac.clock));
    EXPECT_EQ(mac.probe->uploads.size(), 1);
    EXPECT_EQ(log.take(), (QStringList { deferred, deferred }));

    // Read, then no longer writable (sealing needs the key again): still nothing is sent.
    mac.keys->failingReads.clear();
    mac.reopenBackupState();
    EXPECT_EQ(mac.records(), QList<Record> { storedRecord });
    mac.keys->failingReads.insert(stateKey);
    EXPECT_EQ(test::awaitTask(mac.service->backUp(later, mac.clock)), waits);
    test::awaitTask(mac.service->declineMigration());
    EXPECT_EQ(test::awaitTask(mac.service->migrationChoice()), std::nullopt);
    EXPECT_EQ(mac.probe->uploads.size(), 1);
    EXPECT_EQ(log.take(),
        (QStringList {
            deferred, "conversation-backup: The answer to the migration offer could not be kept." }));

    // Once the state is back, each review is on the account once, under its first id.
    mac.keys->failingReads.clear();
    EXPECT_EQ(test::awaitTask(mac.service->backUp(later, mac.clock)), Outcome::stored());
    EXPECT_EQ(test::awaitTask(mac.service->backUp(stored, mac.clock)), Outcome::stored());
    EXPECT_EQ(mac.probe->uploads, (QList<QUuid> { storedRecord.conversationID, mac.accountID(later) }));
    test::awaitTask(mac.service->refreshServerHistory());
    EXPECT_EQ(mac.cachedIDs().size(), 2);
}

TEST_F(ConversationBackupServiceTest, TheMigrationOfferIsAnsweredAndCanBeTakenBack)
{
    Computer mac(account("Ada"));
    const QList<DerivedSessionResult> reviews { mac.save(hoursAgo(1)), mac.save(hoursAgo(3)) };
    EXPECT_EQ(test::awaitTask(mac.service->conversationsAwaitingOffer()), 2);
    test::awaitTask(mac.service->declineMigration());
    EXPECT_EQ(test::awaitTask(mac.service->conversationsAwaitingOffer()), 0);
    EXPECT_EQ(test::awaitTask(mac.service->conversationsKeptLocal()), 2);
    EXPECT_EQ(test::awaitTask(mac.service->migrationChoice()), ConversationMigrationChoice::declined);
    EXPECT_TRUE(mac.probe->uploads.isEmpty());

    // A later unoffered review goes too; all oldest first.
    const DerivedSessionResult later = mac.save(hoursAgo(2));
    test::awaitTask(mac.service->backUpConversationsKeptLocal(mac.clock));
    EXPECT_EQ(mac.probe->uploads,
        (QList<QUuid> { mac.accountID(reviews[1]), mac.accountID(later), mac.accountID(reviews[0]) }));
    EXPECT_EQ(test::awaitTask(mac.service->conversationsKeptLocal()), 0);
    EXPECT_EQ(test::awaitTask(mac.service->migrationChoice()), ConversationMigrationChoice::accepted);

    // A review saved just before a quit has no record: with the offer accepted the next retry
    // sends it; with no answer yet it waits for the offer.
    const DerivedSessionResult beforeQuit = mac.save(hoursAgo(1));
    test::awaitTask(mac.service->retryPending(mac.clock));
    EXPECT_EQ(mac.probe->uploads.size(), 4);
    EXPECT_EQ(mac.record(beforeQuit.id)->state, State::stored);

    EXPECT_TRUE(test::awaitTask(mac.service->forgetEverything()));
    EXPECT_EQ(test::awaitTask(mac.service->migrationChoice()), std::nullopt);
    EXPECT_EQ(test::awaitTask(mac.service->conversationsAwaitingOffer()), 4);
    test::awaitTask(mac.service->retryPending(mac.clock));
    EXPECT_EQ(mac.probe->uploads.size(), 4);

    // A state that cannot be removed (its folder turned into a link) is reported as kept.
    const QString folder = QFileInfo(mac.store->file()).path();
    ASSERT_TRUE(test::awaitTask(mac.store->setMigrationChoice(ConversationMigrationChoice::declined)));
    ASSERT_TRUE(QFile::rename(folder, folder + "-real"));
    ASSERT_TRUE(QFile::link(folder + "-real", folder));
    EXPECT_FALSE(test::awaitTask(mac.service->forgetEverything()));
    EXPECT_TRUE(QFileInfo::exists(folder + "-real/" + ConversationBackupStore::fileName()));
}

} // namespace
} // namespace lumora
