#include "RealControlPlaneFixture.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "providers/DeletionResponse.hpp"

#include <QJsonDocument>

namespace lumora {
namespace {

using testing::failureOf;
using testing::isDecodeError;
using testing::refusal;
using testing::ScriptedServer;

// An upload of a finished review under a new id.
ConversationUploadPayload uploadCompletedAt(qint64 seconds)
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
    return ConversationUploadPayload::fromResult(review, QUuid::createUuid());
}

using DeletionResult = std::expected<ConversationDeletionOutcome, ControlPlaneFailure>;

class ConversationContentClientTest : public testing::RealControlPlaneFixture {
protected:
    QList<QUuid> pageIDs(const ControlPlaneClient& client, int limit, std::optional<QString> cursor = {})
    {
        const auto page = test::awaitTask(client.conversationPage(limit, std::move(cursor)));
        EXPECT_TRUE(page.has_value());
        QList<QUuid> ids;
        for (const auto& row : page.value_or(ConversationPage {}).conversations)
            ids.append(row.id);
        return ids;
    }
};

TEST_F(ConversationContentClientTest, StoresOnceFetchesTheSameReviewAndHidesAndDeletes)
{
    const ControlPlaneClient client(base, signIn(identity, "Ada").deviceID, identity, manager);
    const qint64 completed = QDateTime::currentSecsSinceEpoch() - 3600;
    const auto payload = uploadCompletedAt(completed);
    const QUuid id = payload.conversationID;
    const QByteArray body = *ConversationUploadCodec::body(payload);
    const auto stored = test::awaitTask(client.storeConversation(body));
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->id, id);
    EXPECT_EQ(stored->mode, "checkin");
    EXPECT_EQ(stored->endedAt, completed);
    EXPECT_EQ(stored->durationSeconds, 62);
    EXPECT_EQ(stored->workspace, ConversationWorkspaceScope::current);
    EXPECT_FALSE(stored->pendingDeletion.has_value());

    // A retry after a lost reply stores nothing twice; another account with the same id is
    // told to pick a new one.
    EXPECT_EQ(test::awaitTask(client.storeConversation(body)), stored);
    EXPECT_EQ(pageIDs(client, 100), QList<QUuid> { id });
    const DeviceIdentity other = testing::newIdentity();
    const ControlPlaneClient otherClient(base, signIn(other, "Bob").deviceID, other, manager);
    EXPECT_EQ(failureOf(test::awaitTask(otherClient.storeConversation(body))),
        refusal(409, "conversation_id_conflict"));
    EXPECT_EQ(test::awaitTask(client.conversation(id)), payload);

    EXPECT_TRUE(test::awaitTask(client.hideConversation(id)));
    EXPECT_TRUE(pageIDs(client, 100).isEmpty());
    EXPECT_TRUE(test::awaitTask(client.unhideConversation(id)));
    EXPECT_EQ(pageIDs(client, 100), QList<QUuid> { id });
    // Alone in the workspace: deleted at once; nothing waits for approval.
    EXPECT_EQ(test::awaitTask(client.deleteConversation(id)), ConversationDeletionOutcome::deleted());
    EXPECT_TRUE(pageIDs(client, 100).isEmpty());
    EXPECT_EQ(failureOf(test::awaitTask(client.conversation(id))), refusal(404, "conversation_not_found"));
    EXPECT_EQ(failureOf(test::awaitTask(client.approveConversationDeletion(id))),
        refusal(404, "conversation_not_found"));
}

TEST_F(ConversationContentClientTest, PagesFollowTheCursorNewestFirst)
{
    const ControlPlaneClient client(base, signIn(identity, "Ada").deviceID, identity, manager);
    const qint64 start = QDateTime::currentSecsSinceEpoch() - 100'000;
    QList<QUuid> stored;
    for (qint64 hours : { 3, 1, 4, 2, 5 }) {
        const auto payload = uploadCompletedAt(start + hours * 3600);
        ASSERT_TRUE(test::awaitTask(client.storeConversation(*ConversationUploadCodec::body(payload))));
        stored.append(payload.conversationID);
    }
    const QList<QUuid> newestFirst { stored[4], stored[2], stored[0], stored[3], stored[1] };

    QList<QUuid> seen;
    std::optional<QString> cursor;
    int pages = 0;
    do {
        const ConversationPage page
            = test::awaitTask(client.conversationPage(2, cursor)).value_or(ConversationPage {});
        for (const ConversationRecordSummary& row : page.conversations)
            seen.append(row.id);
        cursor = page.nextCursor;
    } while (++pages < 5 && cursor);
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(seen, newestFirst);
    EXPECT_EQ(pageIDs(client, 0), newestFirst.mid(0, 1));
    EXPECT_EQ(pageIDs(client, 20, QString()), newestFirst);
    EXPECT_EQ(failureOf(test::awaitTask(client.conversationPage(2, QString("not a cursor")))),
        refusal(400, "invalid_cursor"));
}

// Replies the real control plane does not give, from a scripted server.
using ConversationContentRepliesTest = testing::ScriptedClientTest;

TEST_F(ConversationContentRepliesTest, PageQueriesClampTheLimitAndKeepTheCursor)
{
    const std::tuple<int, std::optional<QString>, QByteArray> cases[] = {
        { 0, std::nullopt, "limit=1" },
        { 250, std::nullopt, "limit=100" },
        { 20, QString("b2sgMTox"), "limit=20&cursor=b2sgMTox" },
        { 1, QString(), "limit=1&cursor=" },
    };
    for (const auto& [limit, cursor, query] : cases) {
        ScriptedServer server(200, R"({"conversations":[],"next_cursor":null})");
        EXPECT_EQ(test::awaitTask(clientFor(server).conversationPage(limit, cursor)), ConversationPage {});
        EXPECT_EQ(server.requests().value(0).method, "GET");
        EXPECT_EQ(server.requests().value(0).target, "/v1/content/conversations?" + query);
    }
    ScriptedServer missing(200, R"({"next_cursor":"x"})");
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(missing).conversationPage(5, {}))));
}

// One row that does not read costs that row, said in the log, never the page: the rows around
// it are listed and the cursor is kept. A reply that is not a page still fails.
TEST_F(ConversationContentRepliesTest, ARowThatDoesNotReadIsLeftOutAndLoggedNotThePage)
{
    const auto row = [](const char* id, const char* extra) {
        return QByteArray(R"({"id":")") + id
            + R"(","mode":"conversation","status":"stored","started_at":100,"ended_at":160,)"
              R"("duration_seconds":60,"created_at":170)"
            + extra + "}";
    };
    const QByteArray first = "0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9";
    const QByteArray last = "1a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9";
    const QByteArray page = R"({"conversations":[)" + row(first, R"(,"turns":9223372036854775807)") + ","
        + row("not-a-uuid", "") + "," + row("2a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9", R"(,"turns":1.5)")
        + R"(,"a row that is no object",)" + row(last, "") + R"(],"next_cursor":"b2sgMTox"})";
    testing::LogCapture log(true);
    ScriptedServer server(200, page);
    const auto read = test::awaitTask(clientFor(server).conversationPage(100, {}));
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->conversations.size(), 2);
    EXPECT_EQ(read->conversations[0].id, QUuid(QString::fromLatin1(first)));
    EXPECT_EQ(read->conversations[0].turns, 2 * (60 + 1))
        << "a count past every bound is read as the most the length allows";
    EXPECT_EQ(read->conversations[1].id, QUuid(QString::fromLatin1(last)));
    EXPECT_EQ(read->nextCursor, "b2sgMTox");
    const QStringList leftOut = log.lines().filter("left out");
    ASSERT_EQ(leftOut.size(), 3) << log.lines().join('\n').toStdString();
    EXPECT_TRUE(leftOut[0].contains("conversations: [1]: ConversationRecordSummary.id"))
        << leftOut[0].toStdString();
    EXPECT_TRUE(leftOut[1].contains("conversations: [2]: ConversationRecordSummary.turns"));
    EXPECT_TRUE(leftOut[2].contains("conversations: [3]: ConversationRecordSummary: expected an object"));

    ScriptedServer notAList(200, R"({"conversations":{},"next_cursor":null})");
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(notAList).conversationPage(5, {}))));
}

TEST_F(ConversationContentRepliesTest, DeletionRepliesDecideTheOutcome)
{
    const auto pending = [](bool byMe, qint64 at, qint64 expires) {
        return ConversationDeletionOutcome::awaitingPartner(
            PendingConversationDeletion { byMe, at, expires });
    };
    const auto deleted = ConversationDeletionOutcome::deleted();
    const std::pair<QByteArray, std::optional<ConversationDeletionOutcome>> cases[] = {
        { "{}", deleted },
        { R"({"status":"deleted"})", deleted },
        { R"({"status":"Pending_Approval"})", deleted },
        { R"({"status":null,"requested_by_me":false})", deleted },
        { R"({"status":"pending_approval"})", pending(true, 0, 0) },
        { R"({"status":"pending_approval","requested_by_me":false,"requested_at":100,"expires_at":200})",
            pending(false, 100, 200) },
        { R"({"status":"pending_approval","requested_at":null})", pending(true, 0, 0) },
        // The decode fails:
        { R"({"status":5})", std::nullopt },
        { R"({"status":"pending_approval","expires_at":"soon"})", std::nullopt },
        { "[]", std::nullopt },
        { "", std::nullopt },
    };
    for (const auto& [reply, outcome] : cases) {
        const auto response = decodeJson<DeletionResponse>(reply);
        EXPECT_EQ(response ? std::optional(response->outcome()) : std::nullopt, outcome)
            << reply.toStdString();
    }

    // Over the wire, with the id in lower case in the path.
    const QUuid id = QUuid::fromString(QStringLiteral("6F1C2D3E-4A5B-4C6D-8E7F-8091A2B3C4D5"));
    ScriptedServer server(200, R"({"status":"pending_approval","requested_at":7})");
    EXPECT_EQ(test::awaitTask(clientFor(server).deleteConversation(id)), pending(true, 7, 0));
    EXPECT_EQ(server.requests().value(0).target,
        "/v1/content/conversations/6f1c2d3e-4a5b-4c6d-8e7f-8091a2b3c4d5/delete");
    ScriptedServer empty(200, "");
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(empty).deleteConversation(id))));
}

TEST_F(ConversationContentRepliesTest, ActionsAcceptAnySuccessAndFetchNeedsBothParts)
{
    const QUuid id = QUuid::createUuid();
    ScriptedServer noContent(204, "", "");
    const ControlPlaneClient client = clientFor(noContent);
    EXPECT_TRUE(test::awaitTask(client.approveConversationDeletion(id)));
    EXPECT_TRUE(test::awaitTask(client.declineConversationDeletion(id)));
    EXPECT_TRUE(test::awaitTask(client.hideConversation(id)));
    EXPECT_TRUE(test::awaitTask(client.unhideConversation(id)));
    QStringList paths;
    for (const auto& request : noContent.requests()) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_TRUE(request.body.isEmpty());
        paths.append(QString::fromLatin1(request.target).section(u'/', 5));
    }
    EXPECT_EQ(paths, QStringList({ "delete/approve", "delete/decline", "hide", "unhide" }));

    ConversationUploadPayload content;
    content.conversationID = id;
    ScriptedServer rowMissing(200, QJsonDocument(QJsonObject { { "content", content.toJson() } }).toJson());
    EXPECT_TRUE(isDecodeError(test::awaitTask(clientFor(rowMissing).conversation(id))));
}

} // namespace
} // namespace lumora
