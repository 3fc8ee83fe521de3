#include "RealControlPlaneFixture.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "providers/DeletionResponse.hpp"

#include <QJsonDocument>

namespace lumora {
namespace {

using testing::await;
using testing::failureOf;
using testing::refusal;
using testing::ScriptedServer;

DerivedSessionResult reviewCompletedAt(qint64 seconds)
{
    DerivedSessionResult review;
    review.id = QUuid::createUuid();
    review.title = "The Sunday budget talk";
    review.completedAt = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    review.duration = 62.4;
    review.mode = ConversationMode::checkin;
    review.stats = { SpeakerStats { 0, 30.5, 2, 20, 0.55 }, SpeakerStats { 1, 25, 1, 25, 0.45 } };
    review.annotations = { BehaviorAnnotation(1, 1, BehaviorCode::criticism, 0.75, 21, 30) };
    review.fouls = QList<ProcessFoulAnnotation> { ProcessFoulAnnotation(
        0, 0, ProcessFoul::kitchenSinking, 0.5, 0, 10.5) };
    review.summary = "You both named the bills; one “always” slipped in.";
    review.transcript = QList<SpeakerTurn> { SpeakerTurn(0, 0, 10.5, "Can we look at the bills?"),
        SpeakerTurn(1, 10.5, 62.4, "You always leave it to me.") };
    return review;
}

using DeletionResult = std::expected<ConversationDeletionOutcome, ControlPlaneFailure>;

// The outcome has no empty state, which QCoro::waitFor needs: carried in an optional.
QCoro::Task<std::optional<DeletionResult>> boxed(QCoro::Task<DeletionResult> task)
{
    co_return co_await std::move(task);
}

DeletionResult awaitDeletion(QCoro::Task<DeletionResult> task)
{
    return *await(boxed(std::move(task)));
}

class ConversationContentClientTest : public testing::RealControlPlaneFixture {
protected:
    void SetUp() override
    {
        RealControlPlaneFixture::SetUp();
        if (HasFatalFailure())
            return;
        const DeviceRegistration registration = signIn(identity, "Ada");
        client = std::make_unique<ControlPlaneClient>(base, registration.deviceID, identity, manager);
    }

    // Stores the review's upload body under a new account id; the id.
    QUuid store(const DerivedSessionResult& review)
    {
        const auto payload = ConversationUploadPayload::fromResult(review, QUuid::createUuid());
        EXPECT_TRUE(await(client->storeConversation(ConversationUploadCodec::body(payload).value_or(""))));
        return payload.conversationID;
    }

    QList<QUuid> pageIDs(int limit, std::optional<QString> cursor = std::nullopt)
    {
        const auto page = await(client->conversationPage(limit, std::move(cursor)));
        EXPECT_TRUE(page.has_value());
        QList<QUuid> ids;
        for (const ConversationRecordSummary& row :
            page ? page->conversations : QList<ConversationRecordSummary> {})
            ids.append(row.id);
        return ids;
    }

    std::unique_ptr<ControlPlaneClient> client;
};

TEST_F(ConversationContentClientTest, StoresOnceFetchesTheSameReviewAndHidesAndDeletes)
{
    const qint64 completed = QDateTime::currentSecsSinceEpoch() - 3600;
    const DerivedSessionResult review = reviewCompletedAt(completed);
    const auto payload = ConversationUploadPayload::fromResult(review, QUuid::createUuid());
    const QByteArray body = *ConversationUploadCodec::body(payload);

    const auto stored = await(client->storeConversation(body));
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->id, payload.conversationID);
    EXPECT_EQ(stored->mode, "checkin");
    EXPECT_EQ(stored->endedAt, completed);
    EXPECT_EQ(stored->durationSeconds, 62);
    EXPECT_EQ(stored->workspace, ConversationWorkspaceScope::current);
    EXPECT_FALSE(stored->pendingDeletion.has_value());

    // A retry after a lost reply stores nothing twice.
    EXPECT_EQ(await(client->storeConversation(body)), stored);
    EXPECT_EQ(pageIDs(100), QList<QUuid> { payload.conversationID });

    // Another account with the same id is told to pick a new one.
    const DeviceIdentity other = testing::newIdentity();
    const ControlPlaneClient otherClient(base, signIn(other, "Bob").deviceID, other, manager);
    EXPECT_EQ(
        failureOf(await(otherClient.storeConversation(body))), refusal(409, "conversation_id_conflict"));
    EXPECT_EQ(await(client->conversation(payload.conversationID)), payload);

    EXPECT_TRUE(await(client->hideConversation(payload.conversationID)));
    EXPECT_TRUE(pageIDs(100).isEmpty());
    EXPECT_TRUE(await(client->unhideConversation(payload.conversationID)));
    EXPECT_EQ(pageIDs(100), QList<QUuid> { payload.conversationID });

    // Alone in the workspace: deleted at once; nothing waits for approval.
    EXPECT_EQ(awaitDeletion(client->deleteConversation(payload.conversationID)),
        ConversationDeletionOutcome::deleted());
    EXPECT_TRUE(pageIDs(100).isEmpty());
    const ControlPlaneFailure notFound = refusal(404, "conversation_not_found");
    EXPECT_EQ(failureOf(await(client->conversation(payload.conversationID))), notFound);
    EXPECT_EQ(failureOf(await(client->approveConversationDeletion(payload.conversationID))), notFound);
}

TEST_F(ConversationContentClientTest, PagesFollowTheCursorNewestFirst)
{
    const qint64 start = QDateTime::currentSecsSinceEpoch() - 100'000;
    QList<QUuid> stored;
    for (qint64 hours : { 3, 1, 4, 2, 5 })
        stored.append(store(reviewCompletedAt(start + hours * 3600)));
    const QList<QUuid> newestFirst { stored[4], stored[2], stored[0], stored[3], stored[1] };

    QList<QUuid> seen;
    std::optional<QString> cursor;
    int pages = 0;
    do {
        const ConversationPage page
            = await(client->conversationPage(2, cursor)).value_or(ConversationPage {});
        for (const ConversationRecordSummary& row : page.conversations)
            seen.append(row.id);
        cursor = page.nextCursor;
    } while (++pages < 5 && cursor);
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(seen, newestFirst);
    EXPECT_EQ(pageIDs(0), newestFirst.mid(0, 1));
    EXPECT_EQ(pageIDs(20, QString()), newestFirst);
    EXPECT_EQ(failureOf(await(client->conversationPage(2, QString("not a cursor")))),
        refusal(400, "invalid_cursor"));
}

// Replies the real control plane does not give, from a scripted server.
using ConversationContentRepliesTest = testing::ScriptedClientTest;

TEST_F(ConversationContentRepliesTest, PageQueriesClampTheLimitAndKeepTheCursor)
{
    struct Case {
        int limit;
        std::optional<QString> cursor;
        QByteArray query;
    };
    const Case cases[] = {
        { 0, std::nullopt, "limit=1" },
        { 250, std::nullopt, "limit=100" },
        { 20, QString("b2sgMTox"), "limit=20&cursor=b2sgMTox" },
        { 1, QString(), "limit=1&cursor=" },
    };
    for (const Case& item : cases) {
        ScriptedServer server(200, R"({"conversations":[],"next_cursor":null})");
        const auto page = await(clientFor(server).conversationPage(item.limit, item.cursor));
        EXPECT_EQ(page, ConversationPage {});
        ASSERT_EQ(server.requests().size(), 1);
        EXPECT_EQ(server.requests()[0].target.toStdString(),
            ("/v1/content/conversations?" + item.query).toStdString());
        EXPECT_EQ(server.requests()[0].method, "GET");
    }

    ScriptedServer missing(200, R"({"next_cursor":"x"})");
    EXPECT_TRUE(testing::isDecodeError(await(clientFor(missing).conversationPage(5, {}))));
}

TEST_F(ConversationContentRepliesTest, DeletionRepliesDecideTheOutcome)
{
    const auto pending = [](bool byMe, qint64 at, qint64 expires) {
        return ConversationDeletionOutcome::awaitingPartner(
            PendingConversationDeletion { byMe, at, expires });
    };
    struct Case {
        QByteArray reply;
        std::optional<ConversationDeletionOutcome> outcome; // none: the decode fails
    };
    const Case cases[] = {
        { "{}", ConversationDeletionOutcome::deleted() },
        { R"({"status":"deleted"})", ConversationDeletionOutcome::deleted() },
        { R"({"status":"Pending_Approval"})", ConversationDeletionOutcome::deleted() },
        { R"({"status":null,"requested_by_me":false})", ConversationDeletionOutcome::deleted() },
        { R"({"status":"pending_approval"})", pending(true, 0, 0) },
        { R"({"status":"pending_approval","requested_by_me":false,"requested_at":100,"expires_at":200})",
            pending(false, 100, 200) },
        { R"({"status":"pending_approval","requested_at":null})", pending(true, 0, 0) },
        { R"({"status":5})", std::nullopt },
        { R"({"status":"pending_approval","expires_at":"soon"})", std::nullopt },
        { "[]", std::nullopt },
        { "", std::nullopt },
    };
    for (const Case& item : cases) {
        const auto response = decodeJson<DeletionResponse>(item.reply);
        ASSERT_EQ(response.has_value(), item.outcome.has_value()) << item.reply.toStdString();
        if (response) {
            EXPECT_EQ(response->outcome(), *item.outcome) << item.reply.toStdString();
        }
    }

    // Over the wire, with the id in lower case in the path.
    const QUuid id = QUuid::fromString(QStringLiteral("6F1C2D3E-4A5B-4C6D-8E7F-8091A2B3C4D5"));
    ScriptedServer server(200, R"({"status":"pending_approval","requested_at":7})");
    EXPECT_EQ(awaitDeletion(clientFor(server).deleteConversation(id)), pending(true, 7, 0));
    EXPECT_EQ(server.requests().value(0).target,
        "/v1/content/conversations/6f1c2d3e-4a5b-4c6d-8e7f-8091a2b3c4d5/delete");
    ScriptedServer empty(200, "");
    EXPECT_TRUE(testing::isDecodeError(awaitDeletion(clientFor(empty).deleteConversation(id))));
}

TEST_F(ConversationContentRepliesTest, ActionsAcceptAnySuccessAndFetchNeedsBothParts)
{
    const QUuid id = QUuid::createUuid();
    ScriptedServer noContent(204, "", "");
    const ControlPlaneClient client = clientFor(noContent);
    EXPECT_TRUE(await(client.approveConversationDeletion(id)));
    EXPECT_TRUE(await(client.declineConversationDeletion(id)));
    EXPECT_TRUE(await(client.hideConversation(id)));
    EXPECT_TRUE(await(client.unhideConversation(id)));
    QStringList paths;
    for (const auto& request : noContent.requests()) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_TRUE(request.body.isEmpty());
        paths.append(QString::fromLatin1(request.target).section(u'/', 5));
    }
    EXPECT_EQ(paths, QStringList({ "delete/approve", "delete/decline", "hide", "unhide" }));

    ConversationUploadPayload content;
    content.conversationID = id;
    const QJsonObject contentOnly { { "content", content.toJson() } };
    ScriptedServer rowMissing(200, QJsonDocument(contentOnly).toJson());
    EXPECT_TRUE(testing::isDecodeError(await(clientFor(rowMissing).conversation(id))));
}

} // namespace
} // namespace lumora
