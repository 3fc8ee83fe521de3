#pragma once

#include "RealControlPlaneFixture.hpp"
#include "TestKeyStore.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"

#include <QFile>
#include <QTemporaryDir>
#include <deque>

namespace lumora::testing {

// Takes the warnings and critical messages the services log into `lines`, each as
// "<category>: <message>" without the categories' common prefix.
class ServiceLog {
public:
    ServiceLog()
    {
        lines().clear();
        m_previous = qInstallMessageHandler(&ServiceLog::record);
    }
    ~ServiceLog() { qInstallMessageHandler(m_previous); }
    ServiceLog(const ServiceLog&) = delete;
    ServiceLog& operator=(const ServiceLog&) = delete;

    // The lines logged since the last call.
    static QStringList take() { return std::exchange(lines(), {}); }

private:
    static QStringList& lines()
    {
        static QStringList captured;
        return captured;
    }
    static void record(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        const QString category = QString::fromLatin1(context.category);
        if ((type == QtWarningMsg || type == QtCriticalMsg) && category.startsWith("com.lumora.native.")
            && !category.endsWith(".result-store") && !category.endsWith(".control-plane"))
            lines().append(category.mid(18) + ": " + message);
    }
    QtMessageHandler m_previous = nullptr;
};

// The real content client with the replies the real control plane never gives in front of
// it: chosen upload failures, a reply lost after the server stored the upload, smaller
// pages, a failing page, an endless cursor chain. Notes what it was asked.
class ContentClientProbe final : public ConversationContentClient {
public:
    explicit ContentClientProbe(std::shared_ptr<const ConversationContentClient> real)
        : m_real(std::move(real))
    {
    }

    mutable std::deque<ControlPlaneFailure> uploadFailures;
    mutable bool loseNextUploadReply = false;
    // Runs as each upload leaves, while it is on its way.
    mutable std::function<void()> onUpload;
    // Deletions answered so without reaching the server, and one whose reply is lost after the
    // server deleted (as a kill right after the answer leaves it).
    mutable std::deque<ControlPlaneFailure> deletionFailures;
    mutable bool loseNextDeletionReply = false;
    mutable int pageLimit = 0; // 0: as asked
    mutable int failingPage = 0; // this page request (from 1) answers 503
    mutable std::optional<ConversationRecordSummary> endlessPages;

    mutable QList<QUuid> uploads; // the conversation id of each attempt
    mutable int pageRequests = 0;
    mutable int otherCalls = 0;

    QCoro::Task<std::expected<ConversationRecordSummary, ControlPlaneFailure>> storeConversation(
        QByteArray body) const override
    {
        uploads.append(ConversationUploadCodec::payload(body)->conversationID);
        if (onUpload)
            onUpload();
        if (!uploadFailures.empty()) {
            const ControlPlaneFailure failure = uploadFailures.front();
            uploadFailures.pop_front();
            co_return std::unexpected(failure);
        }
        auto stored = co_await m_real->storeConversation(body);
        if (std::exchange(loseNextUploadReply, false) && stored)
            co_return std::unexpected(TransportError { QNetworkReply::RemoteHostClosedError, "closed" });
        co_return stored;
    }
    QCoro::Task<std::expected<ConversationPage, ControlPlaneFailure>> conversationPage(
        int limit, std::optional<QString> cursor) const override
    {
        if (++pageRequests == failingPage)
            co_return std::unexpected(ControlPlaneError::rejected(503));
        if (endlessPages) {
            const ConversationPage page { { *endlessPages }, QString::number(pageRequests) };
            co_return page;
        }
        co_return co_await m_real->conversationPage(pageLimit > 0 ? pageLimit : limit, cursor);
    }
    QCoro::Task<std::expected<ConversationUploadPayload, ControlPlaneFailure>> conversation(
        QUuid id) const override
    {
        return ++otherCalls, m_real->conversation(id);
    }
    QCoro::Task<std::expected<ConversationDeletionOutcome, ControlPlaneFailure>> deleteConversation(
        QUuid id) const override
    {
        ++otherCalls;
        if (!deletionFailures.empty()) {
            const ControlPlaneFailure failure = deletionFailures.front();
            deletionFailures.pop_front();
            co_return std::unexpected(failure);
        }
        auto deleted = co_await m_real->deleteConversation(id);
        if (std::exchange(loseNextDeletionReply, false) && deleted)
            co_return std::unexpected(TransportError { QNetworkReply::RemoteHostClosedError, "closed" });
        co_return deleted;
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> approveConversationDeletion(QUuid id) const override
    {
        return ++otherCalls, m_real->approveConversationDeletion(id);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> declineConversationDeletion(QUuid id) const override
    {
        return ++otherCalls, m_real->declineConversationDeletion(id);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> hideConversation(QUuid id) const override
    {
        return ++otherCalls, m_real->hideConversation(id);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> unhideConversation(QUuid id) const override
    {
        return ++otherCalls, m_real->unhideConversation(id);
    }

private:
    std::shared_ptr<const ConversationContentClient> m_real;
};

// One computer of an account: its sealed reviews and backup state in a temporary folder, and
// the backup service over them, reaching the account through a probe.
struct Computer {
    explicit Computer(std::shared_ptr<const ControlPlaneClient> client)
        : probe(std::make_shared<ContentClientProbe>(std::move(client)))
    {
        results = *EncryptedResultStore::create(folder.filePath("Results"), keys);
        reopenBackupState();
    }

    // A review that ended at `completedAt`, as each computer makes them.
    static DerivedSessionResult review(const QDateTime& completedAt)
    {
        DerivedSessionResult review;
        review.id = QUuid::createUuid();
        review.completedAt = completedAt;
        review.duration = 95.5;
        review.summary = "You both named the bills.";
        review.transcript
            = QList<SpeakerTurn> { SpeakerTurn(0, 0, 50, "The bills?"), SpeakerTurn(1, 50, 95, "Yes.") };
        return review;
    }
    // Seals a review that ended at `completedAt`.
    DerivedSessionResult save(const QDateTime& completedAt)
    {
        const DerivedSessionResult sealed = review(completedAt);
        EXPECT_TRUE(test::awaitTask(results->save(sealed)));
        return sealed;
    }
    DerivedSessionResult backedUp(const QDateTime& completedAt)
    {
        const DerivedSessionResult review = save(completedAt);
        EXPECT_EQ(test::awaitTask(service->backUp(review, clock)), ConversationBackupOutcome::stored());
        return review;
    }
    // Backed up later: the upload meets a 503.
    DerivedSessionResult waiting(const QDateTime& completedAt)
    {
        const DerivedSessionResult review = save(completedAt);
        probe->uploadFailures = { ControlPlaneError::rejected(503) };
        test::awaitTask(service->backUp(review, clock));
        return review;
    }

    std::optional<ConversationBackupRecord> record(const QUuid& localID)
    {
        return test::awaitTask(store->record(localID))
            .value_or(ConversationBackupStore::FoundRecord {})
            .record;
    }
    QUuid accountID(const DerivedSessionResult& review)
    {
        return record(review.id).value_or(ConversationBackupRecord {}).conversationID;
    }
    QList<ConversationBackupRecord> records()
    {
        return test::awaitTask(store->records()).value_or(ConversationBackupStore::Records {}).records;
    }
    QList<QUuid> cachedIDs()
    {
        const auto cached = test::awaitTask(store->cachedConversations());
        QList<QUuid> ids;
        for (const auto& summary : cached->summaries)
            ids.append(summary.id);
        return ids;
    }
    bool onThisComputer(const DerivedSessionResult& review)
    {
        return test::awaitTask(results->load(review.id))->result.has_value();
    }
    std::optional<ConversationHistoryEntry> row(const QUuid& id)
    {
        for (const auto& row : test::awaitTask(service->history())) {
            if (row.id == id)
                return row;
        }
        return std::nullopt;
    }

    // A new store and service over the backup-state file, as at the next start.
    void reopenBackupState()
    {
        service.reset();
        store.reset();
        store = *ConversationBackupStore::create(folder.filePath("Backup"), keys);
        service = ConversationBackupService::create(probe, results, store, [this] { return clock; });
    }

    QTemporaryDir folder;
    // Chosen keys can be made to fail: the backup state's key, for a state that cannot be read
    // (before it is first read) or written (after).
    std::shared_ptr<test::TestKeyStore> keys = std::make_shared<test::TestKeyStore>();
    std::shared_ptr<ContentClientProbe> probe;
    std::shared_ptr<EncryptedResultStore> results;
    std::shared_ptr<ConversationBackupStore> store;
    // Whole seconds, as the backup state keeps them.
    QDateTime clock = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    std::shared_ptr<ConversationBackupService> service;
};

// The services against the real control plane on loopback, one account per name.
class ServicesTest : public RealControlPlaneFixture {
protected:
    std::shared_ptr<ControlPlaneClient> account(const QString& name)
    {
        DeviceIdentity device = newIdentity();
        const DeviceRegistration registration = signIn(device, name);
        return std::make_shared<ControlPlaneClient>(base, registration.deviceID, device, manager);
    }

    // A client of a device whose server is gone.
    std::shared_ptr<ControlPlaneClient> unreachable()
    {
        QUrl closed = base;
        closed.setPort(ScriptedServer(200, "{}").baseUrl().port());
        return std::make_shared<ControlPlaneClient>(closed, QUuid::createUuid(), newIdentity(), manager);
    }

    // Whole seconds, some hours back.
    static QDateTime hoursAgo(int hours)
    {
        return QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 3600 * hours, Qt::UTC);
    }

    ServiceLog log;
};

} // namespace lumora::testing
