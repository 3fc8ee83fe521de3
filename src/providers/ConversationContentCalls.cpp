// The conversation content calls of ControlPlaneClient: the account history.
#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "providers/DeletionResponse.hpp"
#include "providers/ProvidersLog.hpp"

#include <algorithm>

namespace lumora {

namespace {

const QString conversationsPath = QStringLiteral("/v1/content/conversations");

struct StoredConversationResponse {
    ConversationRecordSummary conversation;

    static std::expected<StoredConversationResponse, JsonDecodeError> fromJson(const QJsonValue& value)
    {
        JsonObjectReader reader(value, QStringLiteral("StoredConversationResponse"));
        StoredConversationResponse response;
        response.conversation = reader.record<ConversationRecordSummary>(u"conversation");
        return finish(reader, std::move(response));
    }
};

// A row that does not read (another device's, an older server's) is left out with why, so
// that it costs itself and not the page: the rest of the history still shows.
struct ConversationPageResponse {
    QList<ConversationRecordSummary> conversations;
    QList<JsonDecodeError> leftOut;
    std::optional<QString> nextCursor;

    static std::expected<ConversationPageResponse, JsonDecodeError> fromJson(const QJsonValue& value)
    {
        JsonObjectReader reader(value, QStringLiteral("ConversationPageResponse"));
        ConversationPageResponse response;
        response.conversations
            = reader.listLeavingOut<ConversationRecordSummary>(u"conversations", response.leftOut);
        response.nextCursor = reader.optionalString(u"next_cursor");
        return finish(reader, std::move(response));
    }
};

// Both parts must be present and valid, although only the content is handed on.
struct FetchedConversationResponse {
    ConversationRecordSummary conversation;
    ConversationUploadPayload content;

    static std::expected<FetchedConversationResponse, JsonDecodeError> fromJson(const QJsonValue& value)
    {
        JsonObjectReader reader(value, QStringLiteral("FetchedConversationResponse"));
        FetchedConversationResponse response;
        response.conversation = reader.record<ConversationRecordSummary>(u"conversation");
        response.content = reader.record<ConversationUploadPayload>(u"content");
        return finish(reader, std::move(response));
    }
};

// The content records name their keys themselves: read as they are, without the client's
// key conversion, on a pool thread (a page, a whole review).
template <typename T>
QCoro::Task<std::expected<T, ControlPlaneFailure>> decodeReply(
    std::expected<ReplyBody, ControlPlaneFailure> reply)
{
    if (!reply)
        co_return std::unexpected(reply.error());
    auto decode = [](const QByteArray& data) { return decodeJson<T>(data); };
    co_return co_await decodeOffThread<T>(std::move(reply->data), std::move(decode));
}

QString conversationPath(const QUuid& id)
{
    return conversationsPath + u'/' + uuidText(id, UuidCase::lower);
}

// POST with an empty body to one conversation's action ("delete", "hide", ...).
QCoro::Task<std::expected<ReplyBody, ControlPlaneFailure>> conversationAction(
    const ControlPlaneClient& client, QUuid id, QString action)
{
    const ControlPlaneClient::QueryItems none;
    return client.rawSend(
        conversationPath(id) + u'/' + action, QStringLiteral("POST"), none, QByteArray(), std::nullopt);
}

// The actions whose reply is not read: any 2xx will do, whatever its body.
QCoro::Task<std::expected<void, ControlPlaneFailure>> unreadAction(
    const ControlPlaneClient& client, QUuid id, QString action)
{
    auto reply = co_await conversationAction(client, id, std::move(action));
    if (!reply)
        co_return std::unexpected(reply.error());
    co_return {};
}

} // namespace

QCoro::Task<std::expected<ConversationRecordSummary, ControlPlaneFailure>>
ControlPlaneClient::storeConversation(QByteArray body) const
{
    const QueryItems none;
    auto reply = co_await rawSend(conversationsPath, QStringLiteral("POST"), none, body, std::nullopt);
    auto stored = co_await decodeReply<StoredConversationResponse>(std::move(reply));
    if (!stored)
        co_return std::unexpected(stored.error());
    co_return std::move(stored->conversation);
}

QCoro::Task<std::expected<ConversationPage, ControlPlaneFailure>> ControlPlaneClient::conversationPage(
    int limit, std::optional<QString> cursor) const
{
    QueryItems query { { QStringLiteral("limit"), QString::number(std::clamp(limit, 1, 100)) } };
    // An empty cursor is still sent, as "cursor=" (a null text would drop the "=").
    if (cursor)
        query.append({ QStringLiteral("cursor"), cursor->isEmpty() ? QStringLiteral("") : *cursor });
    auto reply
        = co_await rawSend(conversationsPath, QStringLiteral("GET"), query, QByteArray(), std::nullopt);
    auto page = co_await decodeReply<ConversationPageResponse>(std::move(reply));
    if (!page)
        co_return std::unexpected(page.error());
    // Why, in a line of bounded length: the reason may quote what the row held.
    for (const JsonDecodeError& row : std::as_const(page->leftOut))
        qCWarning(controlPlaneLog, "A conversation of the history was left out: %s",
            qUtf8Printable(row.message.left(300)));
    co_return ConversationPage { std::move(page->conversations), std::move(page->nextCursor) };
}

QCoro::Task<std::expected<ConversationUploadPayload, ControlPlaneFailure>> ControlPlaneClient::conversation(
    QUuid id) const
{
    const QueryItems none;
    auto reply
        = co_await rawSend(conversationPath(id), QStringLiteral("GET"), none, QByteArray(), std::nullopt);
    auto fetched = co_await decodeReply<FetchedConversationResponse>(std::move(reply));
    if (!fetched)
        co_return std::unexpected(fetched.error());
    co_return std::move(fetched->content);
}

QCoro::Task<std::expected<ConversationDeletionOutcome, ControlPlaneFailure>>
ControlPlaneClient::deleteConversation(QUuid id) const
{
    auto reply = co_await conversationAction(*this, id, QStringLiteral("delete"));
    const auto response = co_await decodeReply<DeletionResponse>(std::move(reply));
    if (!response)
        co_return std::unexpected(response.error());
    co_return response->outcome();
}

QCoro::Task<std::expected<void, ControlPlaneFailure>> ControlPlaneClient::approveConversationDeletion(
    QUuid id) const
{
    return unreadAction(*this, id, QStringLiteral("delete/approve"));
}

QCoro::Task<std::expected<void, ControlPlaneFailure>> ControlPlaneClient::declineConversationDeletion(
    QUuid id) const
{
    return unreadAction(*this, id, QStringLiteral("delete/decline"));
}

QCoro::Task<std::expected<void, ControlPlaneFailure>> ControlPlaneClient::hideConversation(QUuid id) const
{
    return unreadAction(*this, id, QStringLiteral("hide"));
}

QCoro::Task<std::expected<void, ControlPlaneFailure>> ControlPlaneClient::unhideConversation(QUuid id) const
{
    return unreadAction(*this, id, QStringLiteral("unhide"));
}

} // namespace lumora
