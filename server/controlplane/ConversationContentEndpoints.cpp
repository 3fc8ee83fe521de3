#include "controlplane/ConversationContentEndpoints.hpp"

#include "controlplane/JsonReplies.hpp"
#include "controlplane/Router.hpp"
#include "domain/ConversationRecordSummary.hpp"
#include "domain/ConversationUploadCodec.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>
#include <algorithm>
#include <string_view>

namespace lumora {

namespace {

constexpr std::string_view collectionPath = "/v1/content/conversations";

// The identifier segment of "/v1/content/conversations/<id>[/...]": 36 characters of UUID text.
std::optional<QUuid> conversationIDOf(const std::string& path)
{
    const std::string_view rest = std::string_view(path).substr(collectionPath.size() + 1);
    const std::string_view segment = rest.substr(0, rest.find('/'));
    if (segment.size() != 36)
        return std::nullopt;
    const QUuid id = QUuid::fromString(QLatin1StringView(segment.data(), qsizetype(segment.size())));
    if (id.isNull())
        return std::nullopt;
    return id;
}

// The cursor is opaque to clients: base64url of "<ended_at>:<id>" of the last row sent.
QString cursorText(const StoredConversation& last)
{
    const QByteArray position = QByteArray::number(last.endedAt) + ':' + idText(last.id).toLatin1();
    return QString::fromLatin1(
        position.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

std::optional<ConversationListPosition> positionOf(const QString& cursor)
{
    const auto decoded = QByteArray::fromBase64Encoding(cursor.toLatin1(),
        QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals
            | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const QList<QByteArray> parts = decoded.decoded.split(':');
    if (parts.size() != 2)
        return std::nullopt;
    bool ok = false;
    const qint64 endedAt = parts[0].toLongLong(&ok);
    const QUuid id = QUuid::fromString(QLatin1StringView(parts[1]));
    if (!ok || id.isNull())
        return std::nullopt;
    return ConversationListPosition { endedAt, id };
}

HttpResponse conversationNotFound()
{
    return errorResponse(404, "conversation_not_found");
}

HttpResponse invalidConversationID()
{
    return errorResponse(400, "invalid_conversation_id");
}

} // namespace

ConversationContentEndpoints::ConversationContentEndpoints(ControlPlaneStore& store, const ContentSeal& seal,
    std::function<qint64()> clock, qint64 deletionLifetime, qint64 storageQuota)
    : m_content(store, seal)
    , m_clock(std::move(clock))
    , m_deletionLifetime(deletionLifetime)
    , m_storageQuota(storageQuota)
{
}

void ConversationContentEndpoints::addRoutes(Router& router)
{
    using E = ConversationContentEndpoints;
    const auto route = [&](const char* suffix, const char* method,
                           HttpResponse (E::*handler)(const HttpRequest&, const DeviceRecord&)) {
        router.addSignedRoute(std::string(collectionPath) + suffix, method, *this, handler);
    };
    route("", "POST", &E::storeConversation);
    route("", "GET", &E::listConversations);
    route("/{}", "GET", &E::fetchConversation);
    route("/{}/delete", "POST", &E::deleteConversation);
    route("/{}/delete/approve", "POST", &E::approveDeletion);
    route("/{}/delete/decline", "POST", &E::declineDeletion);
    route("/{}/hide", "POST", &E::hideConversation);
    route("/{}/unhide", "POST", &E::unhideConversation);
}

HttpResponse ConversationContentEndpoints::storeConversation(
    const HttpRequest& request, const DeviceRecord& device)
{
    if (request.body.size() > std::size_t(maximumBodyBytes))
        return errorResponse(413, "payload_too_large");
    const QByteArray body = QByteArray::fromStdString(request.body);
    const auto payload = ConversationUploadCodec::payload(body);
    const qint64 now = m_clock();
    // An end beyond tomorrow would sort first in every list for good; the nil id is no
    // conversation's, and no later call may name it.
    if (!payload || payload->conversationID.isNull()
        || payload->endedAt > now + ConversationContentStore::maximumEndAhead)
        return invalidRequest();
    using Outcome = ConversationContentStore::AddOutcome;
    const auto added = m_content.add(device.accountID, *payload, body, now, m_storageQuota);
    switch (added.outcome) {
    case Outcome::accountGone:
        // Deleted with its account while the request was on its way, as if it came after.
        return errorResponse(401, "unknown_device");
    case Outcome::overQuota:
        return errorResponse(507, "storage_quota_exceeded");
    case Outcome::storedByAnotherAccount:
        return errorResponse(409, "conversation_id_conflict");
    case Outcome::added:
    case Outcome::alreadyStored:
        break;
    }
    if (!added.conversation)
        return errorResponse(409, "conversation_id_conflict");
    const int status = added.outcome == Outcome::added ? 201 : 200;
    return jsonResponse(
        { { "conversation", summaryJson(*added.conversation, device.accountID, now) } }, status);
}

HttpResponse ConversationContentEndpoints::listConversations(
    const HttpRequest& request, const DeviceRecord& device)
{
    const QUrlQuery query(QString::fromStdString(request.query));
    qint64 limit = defaultPageSize;
    if (query.hasQueryItem(QStringLiteral("limit"))) {
        bool ok = false;
        limit = query.queryItemValue(QStringLiteral("limit")).toLongLong(&ok);
        if (!ok)
            return errorResponse(400, "invalid_limit");
        limit = std::clamp<qint64>(limit, 1, maximumPageSize);
    }
    std::optional<ConversationListPosition> after;
    const QString cursor = query.queryItemValue(QStringLiteral("cursor"), QUrl::FullyDecoded);
    if (!cursor.isEmpty()) {
        after = positionOf(cursor);
        if (!after)
            return errorResponse(400, "invalid_cursor");
    }
    // One row more than asked for tells whether another page follows.
    const QList<StoredConversation> rows = m_content.page(device.accountID, int(limit) + 1, after);
    const qint64 now = m_clock();
    QJsonArray conversations;
    qsizetype bytes = 0;
    QJsonValue nextCursor = QJsonValue::Null;
    for (const StoredConversation& row : rows) {
        const QJsonObject summary = summaryJson(row, device.accountID, now);
        bytes += QJsonDocument(summary).toJson(QJsonDocument::Compact).size();
        if (conversations.size() == limit || (!conversations.isEmpty() && bytes > maximumPageBytes)) {
            nextCursor = cursorText(rows.at(conversations.size() - 1));
            break;
        }
        conversations.append(summary);
    }
    return jsonResponse({ { "conversations", conversations }, { "next_cursor", nextCursor } });
}

HttpResponse ConversationContentEndpoints::fetchConversation(
    const HttpRequest& request, const DeviceRecord& device)
{
    const auto conversation = visibleConversation(request, device);
    if (!conversation)
        return conversation.error();
    const auto body = m_content.body(device.accountID, conversation->id);
    if (!body)
        return conversationNotFound();
    return jsonResponse({ { "conversation", summaryJson(*conversation, device.accountID, m_clock()) },
        { "content", QJsonDocument::fromJson(*body).object() } });
}

HttpResponse ConversationContentEndpoints::deleteConversation(
    const HttpRequest& request, const DeviceRecord& device)
{
    const auto id = conversationIDOf(request.path);
    if (!id)
        return invalidConversationID();
    const auto answer = m_content.requestDeletion(device.accountID, *id, m_clock(), m_deletionLifetime);
    if (!answer)
        return conversationNotFound();
    if (answer->deleted)
        return jsonResponse({ { "status", "deleted" } });
    const StoredConversation& conversation = answer->conversation;
    return jsonResponse({ { "status", "pending_approval" }, { "requested_by_me", true },
        { "requested_at", conversation.deletionRequestedAt },
        { "expires_at", conversation.deletionExpiresAt } });
}

HttpResponse ConversationContentEndpoints::approveDeletion(
    const HttpRequest& request, const DeviceRecord& device)
{
    const auto conversation = partnerDeletionRequest(request, device);
    if (!conversation)
        return conversation.error();
    m_content.remove(conversation->id);
    return okResponse();
}

HttpResponse ConversationContentEndpoints::declineDeletion(
    const HttpRequest& request, const DeviceRecord& device)
{
    const auto conversation = partnerDeletionRequest(request, device);
    if (!conversation)
        return conversation.error();
    m_content.clearDeletionRequest(conversation->id);
    return okResponse();
}

HttpResponse ConversationContentEndpoints::hideConversation(
    const HttpRequest& request, const DeviceRecord& device)
{
    const auto conversation = visibleConversation(request, device);
    if (!conversation)
        return conversation.error();
    m_content.hide(device.accountID, conversation->id, m_clock());
    return okResponse();
}

HttpResponse ConversationContentEndpoints::unhideConversation(
    const HttpRequest& request, const DeviceRecord& device)
{
    const auto conversation = visibleConversation(request, device);
    if (!conversation)
        return conversation.error();
    m_content.unhide(device.accountID, conversation->id);
    return okResponse();
}

std::expected<StoredConversation, HttpResponse> ConversationContentEndpoints::visibleConversation(
    const HttpRequest& request, const DeviceRecord& device) const
{
    const auto id = conversationIDOf(request.path);
    if (!id)
        return std::unexpected(invalidConversationID());
    auto conversation = m_content.conversation(device.accountID, *id);
    if (!conversation)
        return std::unexpected(conversationNotFound());
    return std::move(*conversation);
}

std::expected<StoredConversation, HttpResponse> ConversationContentEndpoints::partnerDeletionRequest(
    const HttpRequest& request, const DeviceRecord& device) const
{
    auto conversation = visibleConversation(request, device);
    if (!conversation)
        return conversation;
    if (!conversation->deletionPending(m_clock()))
        return std::unexpected(errorResponse(404, "deletion_request_not_found"));
    // The requester withdraws nothing this way: only the partner answers a request.
    if (*conversation->deletionRequestedBy == device.accountID)
        return std::unexpected(errorResponse(409, "deletion_requested_by_you"));
    return conversation;
}

QJsonObject ConversationContentEndpoints::summaryJson(
    const StoredConversation& conversation, const QUuid& viewer, qint64 now) const
{
    ConversationRecordSummary summary;
    summary.id = conversation.id;
    summary.mode = conversation.mode;
    summary.status = QStringLiteral("stored");
    summary.startedAt = conversation.startedAt;
    summary.endedAt = conversation.endedAt;
    summary.durationSeconds = conversation.durationSeconds;
    // Within what this application uploads, also where an older server stored more.
    summary.title = conversation.title.transform(ConversationUploadPayload::boundedTitle);
    summary.createdAt = conversation.createdAt;
    // Counted by the upgrade from statistics stored before negative counts were refused.
    summary.turns = conversation.turns.transform([](qint64 turns) { return std::max<qint64>(turns, 0); });
    summary.workspace = conversation.inCurrentWorkspace ? ConversationWorkspaceScope::current
                                                        : ConversationWorkspaceScope::previous;
    if (conversation.deletionPending(now))
        summary.pendingDeletion = PendingConversationDeletion { *conversation.deletionRequestedBy == viewer,
            conversation.deletionRequestedAt, conversation.deletionExpiresAt };
    QJsonObject json = summary.toJson();
    json.insert(QStringLiteral("id"), idText(conversation.id));
    return json;
}

} // namespace lumora
