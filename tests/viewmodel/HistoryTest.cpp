#include "AccountFixture.hpp"
#include "RealControlPlaneFixture.hpp"
#include "TestKeyStore.hpp"
#include "ViewModelFixture.hpp"
#include "appcore/CheckinService.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "appcore/PairingService.hpp"
#include "domain/PairingPolicy.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"

namespace lumora {
namespace {

using testing::settle;
using testing::ViewModelHome;

// The real content client, noting the calls that reach the account in one list shared with
// the test; the first `lostUploads` uploads get no answer.
class OrderedContentClient final : public ConversationContentClient {
public:
    OrderedContentClient(std::shared_ptr<const ConversationContentClient> real, QStringList& log)
        : m_real(std::move(real))
        , m_log(&log)
    {
    }

    mutable int lostUploads = 0;

    QCoro::Task<std::expected<ConversationRecordSummary, ControlPlaneFailure>> storeConversation(
        QByteArray body) const override
    {
        m_log->append(QStringLiteral("upload"));
        if (lostUploads > 0) {
            --lostUploads;
            co_return std::unexpected(ControlPlaneFailure(
                TransportError { QNetworkReply::RemoteHostClosedError, QStringLiteral("closed") }));
        }
        co_return co_await m_real->storeConversation(body);
    }
    QCoro::Task<std::expected<ConversationPage, ControlPlaneFailure>> conversationPage(
        int limit, std::optional<QString> cursor) const override
    {
        m_log->append(QStringLiteral("page"));
        return m_real->conversationPage(limit, cursor);
    }
    QCoro::Task<std::expected<ConversationUploadPayload, ControlPlaneFailure>> conversation(
        QUuid id) const override
    {
        return m_real->conversation(id);
    }
    QCoro::Task<std::expected<ConversationDeletionOutcome, ControlPlaneFailure>> deleteConversation(
        QUuid id) const override
    {
        m_log->append(QStringLiteral("delete"));
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
    QStringList* m_log;
};

// A view model whose account is connected to the real control plane on loopback.
class SessionViewModelHistoryTest : public testing::RealControlPlaneFixture {
protected:
    void SetUp() override
    {
        RealControlPlaneFixture::SetUp();
        if (HasFatalFailure())
            return;
        model = home.viewModel();
        const DeviceRegistration registration = signIn(identity, QStringLiteral("Ada"));
        client = std::make_shared<ControlPlaneClient>(base, registration.deviceID, identity, manager);
        content = std::make_shared<OrderedContentClient>(client, log);
        backup = ConversationBackupService::create(content, model->resultStore(), model->backupStore());
        model->adoptServices(
            { client, backup, PairingService::create(client, PairingPolicy::version.toString()),
                CheckinService::create(client) });

        const auto note
            = [this](const char* what) { return [this, what] { log.append(QString::fromLatin1(what)); }; };
        QObject::connect(model.get(), &SessionViewModel::pairingChanged, note("pairing"));
        QObject::connect(model.get(), &SessionViewModel::historyEntriesChanged, note("history"));
        QObject::connect(model.get(), &SessionViewModel::migrationChoiceChanged, note("migration choice"));
        QObject::connect(model.get(), &SessionViewModel::conversationsAwaitingMigrationOfferChanged,
            note("awaiting offer"));
        QObject::connect(model.get(), &SessionViewModel::conversationsKeptLocalChanged, note("kept local"));
    }

    DerivedSessionResult save(int hours, const QString& title)
    {
        const DerivedSessionResult review = testing::reviewHoursAgo(hours, title);
        EXPECT_TRUE(test::awaitTask(model->resultStore()->save(review)));
        return review;
    }

    std::optional<ConversationHistoryEntry> entry(const QUuid& localID) const
    {
        for (const auto& row : model->historyEntries()) {
            if (row.localID == localID)
                return row;
        }
        return std::nullopt;
    }

    ViewModelHome home;
    std::unique_ptr<SessionViewModel> model;
    std::shared_ptr<ControlPlaneClient> client;
    std::shared_ptr<OrderedContentClient> content;
    std::shared_ptr<ConversationBackupService> backup;
    QStringList log;
};

TEST_F(SessionViewModelHistoryTest, SynchronisationRunsItsCallsInOrderAndPublishesEachValue)
{
    // One review whose first upload was lost two days ago, so that its retry is due; one that
    // no record has yet; the migration already answered (declined, so that it stays local).
    const DerivedSessionResult uploaded = save(3, QStringLiteral("Bills"));
    content->lostUploads = 1;
    const QDateTime twoDaysAgo = home.now.addDays(-2);
    (void)test::awaitTask(backup->backUp(uploaded, twoDaysAgo));
    ASSERT_EQ(log, QStringList { "upload" });
    const DerivedSessionResult unoffered = save(2, QStringLiteral("Holidays"));
    ASSERT_TRUE(
        test::awaitTask(model->backupStore()->setMigrationChoice(ConversationMigrationChoice::declined)));
    log.clear();

    model->refreshHistory(true);
    settle(*model);
    EXPECT_EQ(log,
        (QStringList {
            "upload", "page", "pairing", "history", "migration choice", "awaiting offer", "kept local" }));
    ASSERT_EQ(model->historyEntries().size(), 2);
    EXPECT_EQ(entry(uploaded.id)->backup, ConversationBackupDisplayState::backedUp);
    EXPECT_EQ(entry(unoffered.id)->backup, ConversationBackupDisplayState::onlyOnThisMac);
    EXPECT_EQ(model->migrationChoice(), ConversationMigrationChoice::declined);
    EXPECT_EQ(model->conversationsAwaitingMigrationOffer(), 1);
    EXPECT_EQ(model->conversationsKeptLocal(), 1);
    EXPECT_FALSE(model->pairing()->workspace.paired);
    EXPECT_FALSE(model->needsMigrationOffer());

    // Without the server: no page and no pairing state, and only what changed is published.
    log.clear();
    const DerivedSessionResult later = save(1, QStringLiteral("Weekend"));
    model->refreshHistory(false);
    settle(*model);
    EXPECT_EQ(log, (QStringList { "history", "awaiting offer", "kept local" }));
    EXPECT_EQ(model->historyEntries().first().localID, later.id);
    EXPECT_EQ(model->conversationsAwaitingMigrationOffer(), 2);

    // Deleting a conversation of an unpaired account removes it at once; the follow-up
    // synchronisation does not ask the server again.
    log.clear();
    EXPECT_EQ(model->deletionKind(*entry(uploaded.id)), ConversationDeletionKind::immediate);
    const auto outcome = test::awaitTask(model->remove(*entry(uploaded.id)));
    ASSERT_TRUE(outcome.has_value());
    EXPECT_TRUE(outcome->isDeleted());
    EXPECT_EQ(log, (QStringList { "delete", "history" }));
    EXPECT_FALSE(entry(uploaded.id).has_value());
    EXPECT_EQ(model->results().size(), 2);
}

TEST_F(SessionViewModelHistoryTest, AFailedOperationSetsItsOneSentenceAndChangesNothing)
{
    const DerivedSessionResult local = save(2, QStringLiteral("Bills"));
    test::awaitTask(model->synchronizeHistory(false));
    const ConversationHistoryEntry onlyHere = *entry(local.id);
    ConversationHistoryEntry elsewhere;
    elsewhere.id = QUuid::createUuid();
    elsewhere.backup = ConversationBackupDisplayState::backedUp;

    const struct {
        const char* name;
        std::function<void()> operation;
        const char* sentence;
    } cases[] {
        { "review", [&] { EXPECT_EQ(test::awaitTask(model->review(elsewhere)), std::nullopt); },
            "That conversation could not be opened. Check your connection and try again." },
        { "approve", [&] { test::awaitTask(model->approveDeletion(onlyHere)); },
            "That conversation could not be deleted just now. Nothing was removed." },
        { "decline", [&] { test::awaitTask(model->declineDeletion(onlyHere)); },
            "That could not be sent just now. Please try again." },
        { "hide", [&] { test::awaitTask(model->hide(onlyHere)); },
            "That conversation could not be hidden just now. Please try again." },
        { "unhide", [&] { test::awaitTask(model->unhide(onlyHere)); },
            "That conversation could not be brought back just now. Please try again." },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        model->setErrorMessage(std::nullopt);
        const auto before = model->historyEntries();
        row.operation();
        EXPECT_EQ(model->errorMessage(), QString::fromUtf8(row.sentence));
        EXPECT_EQ(model->statusText(), QString::fromUtf8(row.sentence));
        EXPECT_EQ(model->historyEntries(), before);
    }
}

} // namespace
} // namespace lumora
