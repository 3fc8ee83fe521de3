#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/ConversationContentStore.hpp"
#include "domain/ConversationUploadPayload.hpp"

#include <QJsonObject>
#include <expected>
#include <functional>

namespace lumora {

class ContentSeal;
class Router;
class ControlPlaneStore;
struct DeviceRecord;

// The account history: "/v1/content/conversations" and the paths under it. Conversations
// are stored per workspace; hiding is per member; deleting a conversation that a partner
// also sees waits for the partner's approval until the request lapses.
class ConversationContentEndpoints {
public:
    static constexpr qint64 maximumBodyBytes = ConversationUploadPayload::maximumBodyBytes;
    static constexpr int defaultPageSize = 50;
    static constexpr int maximumPageSize = 100;
    // The most a page of the list holds, in bytes of its rows (one row at least): a page is
    // made whole in memory and waits there until the client has read it. Some 50 rows of the
    // longest titles, 400 of the usual.
    static constexpr qsizetype maximumPageBytes = 128 * 1024;

    // What one account's stored conversations may hold unless configured otherwise.
    static constexpr qint64 defaultStorageQuota = qint64(1) << 30;

    // `seal`: what stored documents and titles are sealed with; `deletionLifetime`: seconds
    // after which an unanswered deletion request lapses; `storageQuota`: the bytes one
    // account's stored conversations may hold (507 beyond).
    ConversationContentEndpoints(ControlPlaneStore& store, const ContentSeal& seal,
        std::function<qint64()> clock, qint64 deletionLifetime, qint64 storageQuota = defaultStorageQuota);

    void addRoutes(Router& router);

private:
    HttpResponse storeConversation(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse listConversations(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse fetchConversation(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse deleteConversation(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse approveDeletion(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse declineDeletion(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse hideConversation(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse unhideConversation(const HttpRequest& request, const DeviceRecord& device);

    // The conversation named in the path when the caller's account sees it; else 400 for
    // an id that is not UUID text, 404 for one it does not see.
    std::expected<StoredConversation, HttpResponse> visibleConversation(
        const HttpRequest& request, const DeviceRecord& device) const;
    // A partner's deletion request that has not lapsed; else the refusal to answer.
    std::expected<StoredConversation, HttpResponse> partnerDeletionRequest(
        const HttpRequest& request, const DeviceRecord& device) const;
    QJsonObject summaryJson(const StoredConversation& conversation, const QUuid& viewer, qint64 now) const;

    ConversationContentStore m_content;
    std::function<qint64()> m_clock;
    qint64 m_deletionLifetime;
    qint64 m_storageQuota;
};

} // namespace lumora
