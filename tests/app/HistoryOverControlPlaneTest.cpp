#include "AccountFixture.hpp"
#include "HistoryModelAdapter.hpp"
#include "HistoryTexts.hpp"
#include "RealControlPlaneFixture.hpp"
#include "ShellSessionAdapter.hpp"
#include "ViewModelFixture.hpp"
#include "WindowHarness.hpp"
#include "appcore/CheckinService.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "appcore/PairingService.hpp"
#include "domain/PairingPolicy.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"

#include <QQuickItem>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using testing::WindowHarness;

// The account's content calls as they are, except that each review comes back as this
// application cannot read it (written by a newer one, or damaged on its way).
class UnreadableReviews final : public ConversationContentClient {
public:
    explicit UnreadableReviews(std::shared_ptr<const ConversationContentClient> real)
        : m_real(std::move(real))
    {
    }

    QCoro::Task<std::expected<ConversationRecordSummary, ControlPlaneFailure>> storeConversation(
        QByteArray body) const override
    {
        return m_real->storeConversation(std::move(body));
    }
    QCoro::Task<std::expected<ConversationPage, ControlPlaneFailure>> conversationPage(
        int limit, std::optional<QString> cursor) const override
    {
        return m_real->conversationPage(limit, std::move(cursor));
    }
    QCoro::Task<std::expected<ConversationUploadPayload, ControlPlaneFailure>> conversation(
        QUuid id) const override
    {
        (void)co_await m_real->conversation(id);
        co_return std::unexpected(
            ControlPlaneFailure(JsonDecodeError { QStringLiteral("content: not a record") }));
    }
    QCoro::Task<std::expected<ConversationDeletionOutcome, ControlPlaneFailure>> deleteConversation(
        QUuid id) const override
    {
        return m_real->deleteConversation(id);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> approveConversationDeletion(QUuid id) const override
    {
        return m_real->approveConversationDeletion(id);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> declineConversationDeletion(QUuid id) const override
    {
        return m_real->declineConversationDeletion(id);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> hideConversation(QUuid id) const override
    {
        return m_real->hideConversation(id);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> unhideConversation(QUuid id) const override
    {
        return m_real->unhideConversation(id);
    }

private:
    std::shared_ptr<const ConversationContentClient> m_real;
};

// One account on its own computer: a view model whose services reach the real control plane,
// and the History page's model over it.
struct Account {
    testing::ViewModelHome home;
    DeviceIdentity device = testing::newIdentity();
    DeviceRegistration registration;
    std::shared_ptr<ControlPlaneClient> client;
    std::shared_ptr<ConversationBackupService> backup;
    std::unique_ptr<SessionViewModel> model;
    std::unique_ptr<HistoryModelAdapter> history;

    // The entry of the review with that local id, if it is listed.
    std::optional<ConversationHistoryEntry> entry(const QUuid& localID) const
    {
        for (const ConversationHistoryEntry& row : model->historyEntries()) {
            if (row.localID == localID)
                return row;
        }
        return std::nullopt;
    }
    // The row of the account's conversation with that id, if it is listed.
    std::optional<ConversationHistoryEntry> listed(const QUuid& id) const
    {
        for (const ConversationHistoryEntry& row : model->historyEntries()) {
            if (row.id == id)
                return row;
        }
        return std::nullopt;
    }
    // Refreshes from the server, each refresh to its end, until `done` holds; an operation
    // still on its way to the server goes on meanwhile.
    bool synchronizeUntil(const std::function<bool()>& done)
    {
        const QDeadlineTimer deadline(60000);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            test::awaitTask(model->synchronizeHistory(true));
        }
        return true;
    }
    bool isOnTheServer(const QUuid& id) const
    {
        return test::awaitTask(client->conversation(id)).has_value();
    }
};

// The History page of one or two paired accounts over the real control plane, each review sealed
// on its computer and backed up through the real backup service.
class HistoryOverControlPlane : public testing::RealControlPlaneFixture {
protected:
    void connect(Account& account, const QString& name)
    {
        account.model = account.home.viewModel();
        account.registration = signIn(account.device, name);
        account.client = std::make_shared<ControlPlaneClient>(
            base, account.registration.deviceID, account.device, manager);
        account.backup = ConversationBackupService::create(
            account.client, account.model->resultStore(), account.model->backupStore());
        account.model->adoptServices({ account.client, account.backup,
            PairingService::create(account.client, PairingPolicy::version.toString()),
            CheckinService::create(account.client) });
        account.history = std::make_unique<HistoryModelAdapter>(
            *account.model, [] { return QDateTime::currentDateTimeUtc(); });
    }

    // A review of this computer made `hours` ago, sealed and backed up as a finished
    // conversation is.
    static DerivedSessionResult save(Account& account, int hours, const QString& title)
    {
        // Recorded under the account, as a conversation of this build is.
        DerivedSessionResult review = testing::reviewHoursAgo(hours, title);
        review.accountID = account.registration.accountID;
        EXPECT_TRUE(test::awaitTask(account.model->resultStore()->save(review)));
        (void)test::awaitTask(account.backup->backUp(review, QDateTime::currentDateTimeUtc()));
        return review;
    }

    static bool backedUp(const Account& account, const QUuid& localID)
    {
        const auto row = account.entry(localID);
        return row && row->backup == ConversationBackupDisplayState::backedUp;
    }

    QQuickItem* open(Account& account)
    {
        return page.openComponent("Lumora.History", "HistoryView",
            { { "model", QVariant::fromValue<QObject*>(account.history.get()) } });
    }
    static QString keyOf(const ConversationHistoryEntry& row)
    {
        return row.id.toString(QUuid::WithoutBraces);
    }
    // Picks the item of the card's menu.
    void pick(const ConversationHistoryEntry& row, const char* item)
    {
        page.click("moreActions:" + keyOf(row));
        QObject* menu = page.find("historyActions:" + keyOf(row));
        ASSERT_TRUE(QTest::qWaitFor([&] { return menu->property("opened").toBool(); }, 60000));
        QMetaObject::invokeMethod(menu->findChild<QObject*>(item), "triggered");
    }
    // Deletes through the card's menu and the dialog.
    void removeThroughMenu(const ConversationHistoryEntry& row)
    {
        pick(row, "deleteItem");
        ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("historyDeleteConfirmation"); }, 60000));
        page.click("historyDeleteConfirmationConfirm");
    }

    // Links the two accounts through the real pairing calls.
    static void pair(Account& owner, Account& joiner)
    {
        const QString policy = PairingPolicy::version.toString();
        const auto invite = test::awaitTask(owner.client->createPairingInvite(policy));
        ASSERT_TRUE(invite.has_value());
        ASSERT_TRUE(test::awaitTask(joiner.client->redeemPairingInvite(invite->code)));
        ASSERT_TRUE(test::awaitTask(joiner.client->confirmPairingInvite(invite->inviteID, policy)));
    }

    // Ada and Bob linked, and a conversation Ada recorded backed up ("Bills": 95.5 s, 3 turns):
    // its id on the account, null when it did not get there.
    QUuid recordedTogether()
    {
        connect(ada, QStringLiteral("Ada"));
        connect(bob, QStringLiteral("Bob"));
        pair(ada, bob);
        const DerivedSessionResult bills = save(ada, 2, QStringLiteral("Bills"));
        EXPECT_TRUE(ada.synchronizeUntil([&] { return backedUp(ada, bills.id); }));
        const auto row = ada.entry(bills.id);
        return row ? row->id : QUuid();
    }

    // Pending: a deletion waits on the row of that id.
    static bool pending(const Account& account, const QUuid& id)
    {
        const auto row = account.listed(id);
        return row && row->pendingDeletion.has_value();
    }

    // Writes into the control plane's own database while it runs, as an older server or one
    // that took everything a device sent left its rows.
    void storeStraight(const QString& statement, const QVariantList& values)
    {
        {
            QSqlDatabase connection = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"straight"_qs);
            connection.setDatabaseName(server->databasePath());
            ASSERT_TRUE(connection.open());
            QSqlQuery query(connection);
            ASSERT_TRUE(query.prepare(statement));
            for (const QVariant& value : values)
                query.addBindValue(value);
            ASSERT_TRUE(query.exec()) << query.lastError().text().toStdString();
            EXPECT_EQ(query.numRowsAffected(), 1);
        }
        QSqlDatabase::removeDatabase(u"straight"_qs);
    }

    Account ada;
    Account bob;
    // Last, so that the window goes before the models it reads.
    WindowHarness page;
};

TEST_F(HistoryOverControlPlane, HideShowAndDeleteAndAStoppedServerRemovesNothing)
{
    connect(ada, QStringLiteral("Ada"));
    const DerivedSessionResult bills = save(ada, 3, QStringLiteral("Bills"));
    const DerivedSessionResult week = save(ada, 2, QStringLiteral("Week"));
    ASSERT_NE(open(ada), nullptr);
    ASSERT_TRUE(ada.synchronizeUntil([&] { return backedUp(ada, bills.id) && backedUp(ada, week.id); }));
    page.screenshot("history-control-plane");

    // Hidden, then shown again, on the server too.
    pick(*ada.entry(bills.id), "hideItem");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("hiddenSection"); }, 60000));
    ASSERT_TRUE(ada.synchronizeUntil([&] { return ada.entry(bills.id) && ada.entry(bills.id)->isHidden; }));
    page.click("hiddenToggle");
    page.click("showInHistory:" + keyOf(*ada.entry(bills.id)));
    ASSERT_TRUE(ada.synchronizeUntil([&] { return ada.entry(bills.id) && !ada.entry(bills.id)->isHidden; }));
    EXPECT_FALSE(page.shows("hiddenSection"));

    // Not shared with anyone: deleted at once, from the server and this computer.
    const ConversationHistoryEntry weekRow = *ada.entry(week.id);
    ASSERT_TRUE(ada.isOnTheServer(weekRow.id));
    EXPECT_EQ(ada.history->deletionKind(keyOf(weekRow)), HistoryModel::Immediate);
    removeThroughMenu(weekRow);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ada.entry(week.id); }, 60000));
    EXPECT_FALSE(page.has("historyCell:" + keyOf(weekRow)));
    EXPECT_FALSE(ada.isOnTheServer(weekRow.id));
    EXPECT_TRUE(std::ranges::none_of(ada.model->results(), [&](const auto& r) { return r.id == week.id; }));

    // The control plane stops: a delete says so on the page and in the sheet, and removes nothing.
    EXPECT_EQ(server->stop(), 0);
    server.reset();
    const ConversationHistoryEntry billsRow = *ada.entry(bills.id);
    removeThroughMenu(billsRow);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("historyErrorBanner"); }, 60000));
    page.screenshot("history-control-plane-stopped");
    EXPECT_TRUE(ada.entry(bills.id).has_value());
    EXPECT_TRUE(page.shows("historyCell:" + keyOf(billsRow)));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return page.find("historyErrorBanner")->property("opacity") == 1.0; }, 60000));
    page.click("historyErrorBannerDismiss");
    page.click("historyCard:" + keyOf(billsRow));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDetail"); }, 60000))
        << "the review is read from this computer";
    page.click("reviewDeleteButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDeleteConfirmation"); }, 60000));
    page.click("reviewDeleteConfirmationConfirm");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewErrorBanner"); }, 60000));
    EXPECT_TRUE(page.shows("reviewDetail"));
    page.screenshot("review-control-plane-stopped");
    EXPECT_TRUE(ada.entry(bills.id).has_value());
    EXPECT_EQ(ada.model->results().size(), 1);
}

// An account whose storage holds one conversation and a half.
class FullAccountHistory : public HistoryOverControlPlane {
protected:
    QStringList extraServerArguments() const override { return testing::quotaOfOneConversationAndAHalf(); }
};

// The account refuses an upload because its storage is full: the card of that conversation and
// the Account page say so, which conversations count towards it (those recorded with this
// account), and that deleting them from History makes room; once a deletion has made room, the
// refused upload is sent at once, and both notes go.
TEST_F(FullAccountHistory, AFullAccountIsToldAndTheRefusedUploadIsSentOnceRoomIsMade)
{
    connect(ada, QStringLiteral("Ada"));
    ShellSessionAdapter shell(*ada.model, [] { return QDateTime::currentDateTimeUtc(); });
    AccountSession& account = *shell.account();
    const DerivedSessionResult bills = save(ada, 3, QStringLiteral("Bills"));
    const DerivedSessionResult week = save(ada, 2, QStringLiteral("Week"));
    ASSERT_NE(open(ada), nullptr);
    ASSERT_TRUE(ada.synchronizeUntil([&] { return backedUp(ada, bills.id) && ada.entry(week.id); }));
    const ConversationHistoryEntry waiting = *ada.entry(week.id);
    EXPECT_EQ(waiting.backup, ConversationBackupDisplayState::waiting);
    const QString note = "card:" + keyOf(waiting) + ":backupNote";
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.has(note) && page.shows(note); }, 60000))
        << "the card does not say why";
    EXPECT_EQ(page.text(note),
        u"Your account\u2019s storage is full. Only conversations recorded with this account count towards "
        "it: deleting ones you no longer need from History makes room, and this one is sent then."_qs);
    EXPECT_EQ(account.storageNote(),
        u"Your account\u2019s storage is full, so new conversations stay on this computer. Only "
        "conversations recorded with this account count towards it, not your partner\u2019s or those a "
        "former partner left you: deleting ones you no longer need from History makes room, and the "
        "waiting ones are sent then."_qs);
    page.screenshot("history-account-full");
    ASSERT_TRUE(test::awaitTask(ada.model->refreshAfterConversation()));
    ada.model->acceptRecordingAgreement();
    WindowHarness accountPage;
    ASSERT_NE(accountPage.openWindow(shell), nullptr);
    accountPage.content()->setProperty("section", 3);
    EXPECT_TRUE(accountPage.shows("storageNote"));
    EXPECT_EQ(accountPage.text("storageNote"), account.storageNote());
    accountPage.screenshots("account-storage-full", "storageFull");
    accountPage.close();

    // The view model's clock stands where it was made: brought to the present, so that the refused
    // upload is not in its future.
    ada.home.now = QDateTime::currentDateTimeUtc();
    removeThroughMenu(*ada.entry(bills.id));
    // Well within the minute a refused upload waits before it is tried again.
    EXPECT_TRUE(ada.synchronizeUntil([&] { return !ada.entry(bills.id) && backedUp(ada, week.id); }))
        << "the refused upload waits although there is room";
    EXPECT_FALSE(page.has(note) && page.shows(note));
    EXPECT_EQ(account.storageNote(), QString());
}

TEST_F(HistoryOverControlPlane, ASharedConversationIsDeletedOnlyOnceThePartnerAgrees)
{
    connect(ada, QStringLiteral("Ada"));
    connect(bob, QStringLiteral("Bob"));
    pair(ada, bob);

    const DerivedSessionResult bills = save(ada, 2, QStringLiteral("Bills"));
    ASSERT_NE(open(ada), nullptr);
    ASSERT_TRUE(ada.synchronizeUntil([&] { return backedUp(ada, bills.id); }));
    const ConversationHistoryEntry shared = *ada.entry(bills.id);
    ASSERT_TRUE(bob.synchronizeUntil([&] { return bob.listed(shared.id).has_value(); }))
        << "the partner's history lists it";
    ASSERT_TRUE(ada.synchronizeUntil(
        [&] { return ada.history->deletionKind(keyOf(shared)) == HistoryModel::SharedWithPartner; }));

    // Asked, the partner declines: it stays for both.
    removeThroughMenu(shared);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("pendingDeletion:" + keyOf(shared)); }, 60000));
    EXPECT_TRUE(pending(ada, shared.id) && ada.listed(shared.id)->pendingDeletion->requestedByMe);
    page.screenshot("history-deletion-requested");
    ASSERT_TRUE(bob.synchronizeUntil([&] { return pending(bob, shared.id); }));
    EXPECT_FALSE(bob.listed(shared.id)->pendingDeletion->requestedByMe);
    bob.history->declineDeletion(keyOf(*bob.listed(shared.id)));
    ASSERT_TRUE(bob.synchronizeUntil([&] { return bob.listed(shared.id) && !pending(bob, shared.id); }));
    ASSERT_TRUE(ada.synchronizeUntil([&] { return ada.listed(shared.id) && !pending(ada, shared.id); }));
    EXPECT_FALSE(page.shows("pendingDeletion:" + keyOf(shared)));
    EXPECT_TRUE(ada.isOnTheServer(shared.id));

    // Asked again, the partner approves: gone for both.
    removeThroughMenu(*ada.listed(shared.id));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("pendingDeletion:" + keyOf(shared)); }, 60000));
    ASSERT_TRUE(bob.synchronizeUntil([&] { return pending(bob, shared.id); }));
    bob.history->approveDeletion(keyOf(*bob.listed(shared.id)));
    ASSERT_TRUE(bob.synchronizeUntil([&] { return !bob.listed(shared.id).has_value(); }));
    EXPECT_FALSE(bob.isOnTheServer(shared.id));
    // She asked for it and the partner agreed: her next refresh takes her own sealed copy, its
    // record and its row off her computer too.
    ASSERT_TRUE(ada.synchronizeUntil([&] { return !ada.entry(bills.id).has_value(); }));
    EXPECT_FALSE(page.has("historyCell:" + keyOf(shared)));
    EXPECT_TRUE(test::awaitTask(ada.model->backupStore()->records())->records.isEmpty());
    EXPECT_TRUE(ada.model->results().isEmpty());
    EXPECT_FALSE(ada.isOnTheServer(shared.id));
}

// One conversation reads alike on the recorder's computer and on the partner's: its length in
// the whole seconds the account keeps (95.5 s are 1:36 on both), its turns, and both counted in
// the totals.
TEST_F(HistoryOverControlPlane, ASharedConversationReadsTheSameOnBothComputers)
{
    const QUuid id = recordedTogether();
    ASSERT_FALSE(id.isNull());
    ASSERT_TRUE(bob.synchronizeUntil([&] { return bob.listed(id).has_value(); }));
    EXPECT_FALSE(bob.listed(id)->localID.has_value()) << "the partner has it from the account only";
    const auto read = [&](Account& account, const QString& screenshot) {
        EXPECT_NE(open(account), nullptr);
        // The page refreshes as it shows; read once that is done.
        testing::settle(*account.model);
        page.screenshot(screenshot);
        return QStringList { HistoryTexts::subtitle(*account.listed(id)), page.text("timeMetricValue"),
            page.text("turnsMetricValue") };
    };
    const QStringList recorder = read(ada, QStringLiteral("history-numbers-recorder"));
    EXPECT_EQ(recorder, (QStringList { u"1:36 \u00b7 3 turns"_qs, "1:36", "3" }));
    EXPECT_EQ(read(bob, QStringLiteral("history-numbers-partner")), recorder);
}

// A conversation of Ada's whose seats each claimed 2^62 turns, stored as 2^63 - 1 with a length
// and an end as large, shows on Bob's computer within the bounds and beside his own, and can be
// acted on; when the control plane stops answering, the page says its list could not be
// refreshed, over the list read before.
TEST_F(HistoryOverControlPlane, ARowPastEveryBoundShowsWithinThemAndAFailedRefreshSaysSo)
{
    const QUuid id = recordedTogether();
    ASSERT_FALSE(id.isNull());
    const DerivedSessionResult week = save(bob, 1, QStringLiteral("Week"));
    ASSERT_TRUE(bob.synchronizeUntil([&] { return backedUp(bob, week.id) && bob.listed(id); }));
    storeStraight(QStringLiteral("UPDATE content_conversations SET turns = ?, duration_seconds = ?,"
                                 " ended_at = ? WHERE id = ?"),
        { std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max(),
            std::numeric_limits<qint64>::max(), id.toString(QUuid::WithoutBraces) });

    ASSERT_NE(open(bob), nullptr);
    testing::settle(*bob.model);
    EXPECT_FALSE(page.shows("refreshFailedNotice"));
    ASSERT_TRUE(bob.listed(id).has_value());
    EXPECT_EQ(bob.listed(id)->turns, 2 * (86'400 + 1)) << "as many as a day's length allows";
    EXPECT_EQ(bob.listed(id)->duration, 86'400);
    EXPECT_EQ(
        bob.listed(id)->completedAt, QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), QTimeZone::utc()));
    EXPECT_TRUE(bob.entry(week.id).has_value()) << "the rest of the page is listed";
    EXPECT_EQ(page.text("turnsMetricValue"), "172805");
    page.screenshot("history-row-past-every-bound");
    removeThroughMenu(*bob.listed(id));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return page.shows("pendingDeletion:" + keyOf(*bob.listed(id))); }, 60000))
        << "its deletion is asked of the partner";

    EXPECT_EQ(server->stop(), 0);
    server.reset();
    test::awaitTask(bob.model->synchronizeHistory(true));
    EXPECT_TRUE(page.shows("refreshFailedNotice"));
    EXPECT_TRUE(page.shows("historyCell:" + keyOf(*bob.listed(id))));
    EXPECT_TRUE(bob.entry(week.id).has_value());
    page.screenshots("history-refresh-failed", "refreshFailedNotice");
    const int running = bob.model->runningOperations();
    page.click("refreshFailedNotice:retry");
    EXPECT_GT(bob.model->runningOperations(), running) << "it tries again";
    testing::settle(*bob.model);
    EXPECT_TRUE(page.shows("refreshFailedNotice"));
}

// Ada reads again the conversation she asked to delete; Bob agrees meanwhile. Her next refresh
// takes it away, and the open sheet says it is gone and offers nothing more on it.
TEST_F(HistoryOverControlPlane, AReviewOpenOnAConversationThePartnerDeletedSaysItIsGone)
{
    const QUuid id = recordedTogether();
    ASSERT_FALSE(id.isNull());
    ASSERT_NE(open(ada), nullptr);
    ASSERT_TRUE(ada.synchronizeUntil([&] {
        return ada.history->deletionKind(keyOf(*ada.listed(id))) == HistoryModel::SharedWithPartner;
    }));
    removeThroughMenu(*ada.listed(id));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return page.shows("pendingDeletion:" + keyOf(*ada.listed(id))); }, 60000));
    page.click("historyCard:" + keyOf(*ada.listed(id)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDetail"); }, 60000));
    EXPECT_TRUE(page.shows("reviewDeleteButton"));
    EXPECT_FALSE(page.shows("reviewGoneNote"));
    auto* deleteButton = qobject_cast<QQuickItem*>(page.find("reviewDeleteButton"));
    ASSERT_NE(deleteButton, nullptr);
    deleteButton->forceActiveFocus(Qt::TabFocusReason);

    ASSERT_TRUE(bob.synchronizeUntil([&] { return pending(bob, id); }));
    bob.history->approveDeletion(keyOf(*bob.listed(id)));
    ASSERT_TRUE(bob.synchronizeUntil([&] { return !bob.listed(id).has_value(); }));

    ASSERT_TRUE(ada.synchronizeUntil([&] { return !ada.listed(id).has_value(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewGoneNote"); }, 60000));
    EXPECT_EQ(page.text("reviewGoneNote"),
        "This conversation is no longer in your history. It was deleted, or hidden on another of your "
        "computers.");
    EXPECT_TRUE(page.shows("reviewDetail"));
    EXPECT_FALSE(page.shows("reviewDeleteButton"));
    EXPECT_FALSE(page.shows("reviewPendingDeletion"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return page.find("doneButton")->property("visualFocus").toBool(); }, 60000))
        << "the keyboard that was on Delete lands on Done, which shows it";
    page.scrollTo("lifecycleCard");
    for (const char* part : { "reviewCopies", "lifecycleText", "deletionNote" })
        EXPECT_FALSE(page.shows(part)) << part << ": the copies are no longer there";
    page.screenshot("review-gone");
    ada.history->removeReviewed();
    testing::settle(*ada.model);
    EXPECT_TRUE(page.shows("reviewDetail")) << "nothing was asked of the account";
    page.click("doneButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.shows("reviewDetail"); }, 60000));
}

// A sheet left open learns by itself that its conversation left: Bob's, while he hides it on
// his other computer, with no refresh asked; Ada's, whose deletion she asked for on her other
// computer and Bob approved, when her request from the sheet is answered that it is not there.
TEST_F(HistoryOverControlPlane, AnOpenSheetLearnsThatItsConversationLeftAndSaysSo)
{
    const QUuid id = recordedTogether();
    ASSERT_FALSE(id.isNull());
    const auto goneNoteShows = [&] { return page.has("reviewGoneNote") && page.shows("reviewGoneNote"); };
    const auto openSheet = [&] {
        page.click("historyCard:" + keyOf(*ada.listed(id)));
        ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDetail"); }, 60000));
        EXPECT_TRUE(page.shows("reviewDeleteButton"));
        EXPECT_FALSE(page.shows("reviewGoneNote"));
    };

    // Bob's page refreshes now and then while it is shown.
    bob.history = std::make_unique<HistoryModelAdapter>(
        *bob.model, [] { return QDateTime::currentDateTimeUtc(); }, std::chrono::milliseconds(300));
    ASSERT_TRUE(bob.synchronizeUntil([&] { return bob.listed(id).has_value(); }));
    ASSERT_NE(open(bob), nullptr);
    testing::settle(*bob.model);
    page.click("historyCard:" + keyOf(*bob.listed(id)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDetail"); }, 60000));
    ASSERT_TRUE(test::awaitTask(bob.client->hideConversation(id)));
    EXPECT_TRUE(QTest::qWaitFor(goneNoteShows, 60000)) << "the sheet learns it on its own";
    EXPECT_FALSE(page.shows("reviewDeleteButton"));
    page.click("doneButton");
    testing::settle(*bob.model);

    // Ada's page shows and settles before the conversation goes, and her sheet opens on her own
    // copy, as it was read before.
    ASSERT_NE(open(ada), nullptr);
    testing::settle(*ada.model);
    ASSERT_TRUE(test::awaitTask(ada.client->deleteConversation(id)).has_value());
    ASSERT_TRUE(test::awaitTask(bob.client->approveConversationDeletion(id)));
    openSheet();
    page.click("reviewDeleteButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDeleteConfirmation"); }, 60000));
    page.click("reviewDeleteConfirmationConfirm");
    EXPECT_TRUE(QTest::qWaitFor(goneNoteShows, 60000)) << "a request answered that it is not there says so";
    testing::settle(*ada.model);
    EXPECT_TRUE(page.shows("reviewDetail")) << "the sheet stays to say it";
    EXPECT_FALSE(page.shows("reviewDeleteButton"));
    EXPECT_FALSE(ada.listed(id).has_value());
    page.screenshot("review-gone-on-request");
}

// What the history says is so. A row whose turns were stored past every bound shows no more
// than its length allows; a review the partner's computer cannot read does not blame the
// connection; and once the partner has left, a deletion Ada asked for waits on nobody.
TEST_F(HistoryOverControlPlane, TheHistorySaysOnlyWhatIsTrue)
{
    const QUuid id = recordedTogether();
    ASSERT_FALSE(id.isNull());
    storeStraight(QStringLiteral("UPDATE content_conversations SET turns = ? WHERE id = ?"),
        { std::numeric_limits<qint64>::max(), id.toString(QUuid::WithoutBraces) });
    bob.backup = ConversationBackupService::create(
        std::make_shared<UnreadableReviews>(bob.client), bob.model->resultStore(), bob.model->backupStore());
    bob.model->adoptServices(
        { bob.client, bob.backup, PairingService::create(bob.client, PairingPolicy::version.toString()),
            CheckinService::create(bob.client) });
    bob.history
        = std::make_unique<HistoryModelAdapter>(*bob.model, [] { return QDateTime::currentDateTimeUtc(); });
    ASSERT_NE(open(bob), nullptr);
    ASSERT_TRUE(bob.synchronizeUntil([&] { return bob.listed(id).has_value(); }));
    const ConversationHistoryEntry row = *bob.listed(id);
    EXPECT_EQ(row.duration, 96) << "Bills lasted 95.5 s";
    ASSERT_TRUE(row.turns.has_value());
    EXPECT_LE(*row.turns, 2 * 97) << "turns of half a second at the least";
    EXPECT_EQ(page.text("turnsMetricValue"), QString::number(*row.turns));

    page.click("historyCard:" + keyOf(row));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("historyErrorBanner"); }, 60000));
    EXPECT_EQ(bob.model->errorMessage(), "That conversation could not be read.");
    EXPECT_FALSE(page.shows("reviewDetail"));

    // Ada asks; Bob deletes his account before he answers.
    ASSERT_NE(open(ada), nullptr);
    ASSERT_TRUE(ada.synchronizeUntil([&] {
        return ada.history->deletionKind(keyOf(*ada.listed(id))) == HistoryModel::SharedWithPartner;
    }));
    removeThroughMenu(*ada.listed(id));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("pendingDeletion:" + keyOf(row)); }, 60000));
    EXPECT_EQ(page.text("pendingDeletion:" + keyOf(row) + ":text"),
        u"Deletion requested \u2014 waiting for your partner"_qs);
    test::awaitTask(bob.model->deleteAccount());
    ASSERT_EQ(bob.model->statusText(), "Account deleted");
    ASSERT_TRUE(
        ada.synchronizeUntil([&] { return ada.listed(id) && ada.listed(id)->isFromEarlierHistory(); }));
    EXPECT_FALSE(page.shows("pendingDeletion:" + keyOf(row))) << "nobody is left to wait for";
    EXPECT_EQ(ada.history->deletionKind(keyOf(row)), HistoryModel::Immediate);
    page.screenshot("history-partner-left-after-request");
}

// After an unlink each partner keeps what they recorded together ("You both keep every
// conversation you have already recorded"): one of them deleting the account takes nothing
// from the other's history.
TEST_F(HistoryOverControlPlane, AnAccountDeletedAfterAnUnlinkLeavesThePartnersHistory)
{
    const QUuid id = recordedTogether();
    ASSERT_FALSE(id.isNull());
    ASSERT_TRUE(test::awaitTask(bob.client->unlinkPairing()));
    ASSERT_NE(open(bob), nullptr);
    ASSERT_TRUE(
        bob.synchronizeUntil([&] { return bob.listed(id) && bob.listed(id)->isFromEarlierHistory(); }));

    // Saved as a sign-in saves it, the session names the account whose conversations go.
    const LocalAccountSession session { ada.registration.accountID, ada.registration.deviceID };
    ASSERT_TRUE(test::awaitTask(AccountSessionStore(ada.home.keychain).save(session)));
    test::awaitTask(ada.model->deleteAccount());
    EXPECT_EQ(ada.model->statusText(), "Account deleted");
    EXPECT_TRUE(ada.model->historyEntries().isEmpty());
    EXPECT_TRUE(bob.isOnTheServer(id));
    test::awaitTask(bob.backup->refreshServerHistory());
    const auto cached = test::awaitTask(bob.model->backupStore()->cachedConversations());
    ASSERT_TRUE(cached.has_value());
    EXPECT_TRUE(std::ranges::any_of(cached->summaries, [&](const auto& row) { return row.id == id; }));
    page.click("historyCard:" + id.toString(QUuid::WithoutBraces));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.shows("reviewDetail"); }, 60000))
        << "the review is read from the account";
    EXPECT_EQ(page.text("reviewTitle"), "Conversation review");
    page.screenshot("review-partner-account-deleted");
}

} // namespace
} // namespace lumora
