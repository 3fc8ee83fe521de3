#pragma once

#include "RealControlPlaneFixture.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "persistence/ConversationBackupStore.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "security/MemoryKeyStore.hpp"

#include <QFile>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <deque>

namespace lumora::testing {

// Runs a task to its end; also for values without an empty state, which QCoro::waitFor needs.
template <typename T> QCoro::Task<std::optional<T>> boxed(QCoro::Task<T> task)
{
    co_return co_await std::move(task);
}

template <typename T> T settle(QCoro::Task<T> task)
{
    if constexpr (std::is_void_v<T>)
        QCoro::waitFor(std::move(task));
    else
        return *QCoro::waitFor(boxed(std::move(task)));
}

// The warnings and critical messages the services log while it lives, each as
// "<category>: <message>", categories without their "com.lumora.native." prefix.
class ServiceLog {
public:
    ServiceLog() { m_previous = qInstallMessageHandler(&ServiceLog::record); }
    ~ServiceLog()
    {
        qInstallMessageHandler(m_previous);
        lines().clear();
    }
    ServiceLog(const ServiceLog&) = delete;
    ServiceLog& operator=(const ServiceLog&) = delete;

    // The lines of one category, taken out of the log.
    QStringList take(const QString& category)
    {
        QStringList taken;
        for (auto it = lines().begin(); it != lines().end();) {
            if (it->startsWith(category + QStringLiteral(": "))) {
                taken.append(it->mid(category.size() + 2));
                it = lines().erase(it);
            } else {
                ++it;
            }
        }
        return taken;
    }

private:
    static QStringList& lines()
    {
        static QStringList captured;
        return captured;
    }
    static void record(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        const QString category = QString::fromLatin1(context.category);
        const QString prefix = QStringLiteral("com.lumora.native.");
        if ((type == QtWarningMsg || type == QtCriticalMsg) && category.startsWith(prefix))
            lines().append(category.mid(prefix.size()) + QStringLiteral(": ") + message);
    }
    QtMessageHandler m_previous = nullptr;
};

inline ControlPlaneFailure noAnswer()
{
    return TransportError { QNetworkReply::RemoteHostClosedError, QStringLiteral("closed") };
}

// The real content client with the replies the real control plane never gives put in front
// of it: chosen failures, a reply lost after the server stored the upload, smaller pages.
// It notes every call it passes on or answers itself.
class ContentClientProbe final : public ConversationContentClient {
public:
    explicit ContentClientProbe(std::shared_ptr<const ConversationContentClient> real)
        : m_real(std::move(real))
    {
    }

    // Answers for the next uploads, in order, without reaching the server.
    mutable std::deque<ControlPlaneFailure> uploadFailures;
    // The next upload reaches the server, which stores it; its reply is lost.
    mutable bool loseNextUploadReply = false;
    // Pages of this size instead of the service's (0: as asked).
    mutable int pageLimit = 0;
    // The page request of this number (from 1) fails with `pageFailure`.
    mutable int failingPage = 0;
    mutable ControlPlaneFailure pageFailure = ControlPlaneError::rejected(503);
    // Every page ever asked for answers with a further cursor and this one conversation.
    mutable std::optional<ConversationRecordSummary> endlessPages;

    // The conversation id of every upload attempt, in order.
    mutable QList<QUuid> uploads;
    mutable int pageRequests = 0;
    // The other calls by name ("fetch", "delete", "approve", "decline", "hide", "unhide").
    mutable QStringList calls;

    QCoro::Task<std::expected<ConversationRecordSummary, ControlPlaneFailure>> storeConversation(
        QByteArray body) const override
    {
        uploads.append(
            ConversationUploadCodec::payload(body).value_or(ConversationUploadPayload {}).conversationID);
        if (!uploadFailures.empty()) {
            const ControlPlaneFailure failure = uploadFailures.front();
            uploadFailures.pop_front();
            co_return std::unexpected(failure);
        }
        auto stored = co_await m_real->storeConversation(body);
        if (loseNextUploadReply && stored) {
            loseNextUploadReply = false;
            co_return std::unexpected(noAnswer());
        }
        co_return stored;
    }
    QCoro::Task<std::expected<ConversationPage, ControlPlaneFailure>> conversationPage(
        int limit, std::optional<QString> cursor) const override
    {
        ++pageRequests;
        if (pageRequests == failingPage)
            co_return std::unexpected(pageFailure);
        if (endlessPages) {
            const QString next = QString::number(pageRequests);
            co_return ConversationPage { { *endlessPages }, next };
        }
        co_return co_await m_real->conversationPage(pageLimit > 0 ? pageLimit : limit, cursor);
    }
    QCoro::Task<std::expected<ConversationUploadPayload, ControlPlaneFailure>> conversation(
        QUuid id) const override
    {
        calls.append(QStringLiteral("fetch"));
        return m_real->conversation(id);
    }
    QCoro::Task<std::expected<ConversationDeletionOutcome, ControlPlaneFailure>> deleteConversation(
        QUuid id) const override
    {
        calls.append(QStringLiteral("delete"));
        return m_real->deleteConversation(id);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> approveConversationDeletion(QUuid id) const override
    {
        calls.append(QStringLiteral("approve"));
        return m_real->approveConversationDeletion(id);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> declineConversationDeletion(QUuid id) const override
    {
        calls.append(QStringLiteral("decline"));
        return m_real->declineConversationDeletion(id);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> hideConversation(QUuid id) const override
    {
        calls.append(QStringLiteral("hide"));
        return m_real->hideConversation(id);
    }
    QCoro::Task<std::expected<void, ControlPlaneFailure>> unhideConversation(QUuid id) const override
    {
        calls.append(QStringLiteral("unhide"));
        return m_real->unhideConversation(id);
    }

private:
    std::shared_ptr<const ConversationContentClient> m_real;
};

// One computer of an account: its sealed reviews, its backup state and the backup service
// over them, talking to the account through a probe.
struct Computer {
    explicit Computer(std::shared_ptr<const ControlPlaneClient> client)
        : probe(std::make_shared<ContentClientProbe>(std::move(client)))
    {
        EXPECT_TRUE(folder.isValid());
        results = *EncryptedResultStore::create(folder.filePath("Results"), keys);
        store = *ConversationBackupStore::create(folder.filePath("Backup"), keys);
        service = ConversationBackupService::create(probe, results, store, [this] { return clock; });
    }

    // Seals a review that ended at `completedAt`.
    DerivedSessionResult save(const QDateTime& completedAt, const QString& title = QStringLiteral("Talk"))
    {
        DerivedSessionResult review;
        review.id = QUuid::createUuid();
        review.title = title;
        review.completedAt = completedAt;
        review.duration = 95.5;
        review.stats = { SpeakerStats { 0, 50, 2, 30, 0.52 }, SpeakerStats { 1, 45.5, 1, 45.5, 0.48 } };
        review.fouls = QList<ProcessFoulAnnotation> {};
        review.summary = QStringLiteral("You both named the bills.");
        review.transcript = QList<SpeakerTurn> { SpeakerTurn(0, 0, 50, "Can we look at the bills?"),
            SpeakerTurn(1, 50, 95.5, "Yes, tonight.") };
        EXPECT_TRUE(settle(results->save(review)));
        return review;
    }

    std::optional<ConversationBackupRecord> record(const QUuid& localID)
    {
        const auto found = settle(store->record(localID));
        EXPECT_TRUE(found.has_value());
        return found ? found->record : std::nullopt;
    }

    QList<ConversationBackupRecord> records()
    {
        return settle(store->records()).value_or(ConversationBackupStore::Records {}).records;
    }

    QList<QUuid> cachedIDs()
    {
        QList<QUuid> ids;
        for (const auto& summary :
            settle(store->cachedConversations()).value_or(ConversationBackupStore::Summaries {}).summaries)
            ids.append(summary.id);
        return ids;
    }

    // Makes the backup-state file unreadable: the bytes replaced, and a new store (with no
    // copy in memory) behind a new service.
    void damageBackupState()
    {
        QFile file(store->file());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("not a sealed file");
        file.close();
        store = *ConversationBackupStore::create(folder.filePath("Backup"), keys);
        service = ConversationBackupService::create(probe, results, store, [this] { return clock; });
    }

    QTemporaryDir folder;
    std::shared_ptr<MemoryKeyStore> keys = std::make_shared<MemoryKeyStore>();
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

    // A signed client of a device where nothing listens.
    std::shared_ptr<ControlPlaneClient> unreachable()
    {
        QUrl closed = base;
        {
            const ScriptedServer gone(200, "{}");
            closed.setPort(gone.baseUrl().port());
        }
        return std::make_shared<ControlPlaneClient>(closed, QUuid::createUuid(), newIdentity(), manager);
    }

    // Whole seconds, as the account keeps them; an hour back, so that the server takes them.
    QDateTime hoursAgo(int hours) const
    {
        return QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 3600 * hours, Qt::UTC);
    }

    ServiceLog log;
};

} // namespace lumora::testing
