#pragma once

#include "domain/ConversationDeletionOutcome.hpp"
#include "domain/ConversationRecordSummary.hpp"
#include "domain/ConversationUploadPayload.hpp"
#include "providers/ControlPlaneFailure.hpp"
#include "providers/ConversationPage.hpp"

#include <QByteArray>
#include <QString>
#include <QUuid>
#include <expected>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumora {

// The account history on the control plane, as the backup service uses it: store a
// finished conversation, list the stored ones page by page, fetch one back, delete one
// (which may wait for the partner), answer the partner's deletion request, and hide or
// unhide one in this account's list. The control-plane client is the implementation.
class ConversationContentClient {
public:
    virtual ~ConversationContentClient() = default;

    // `body` is the encoded upload document, sent byte for byte.
    [[nodiscard]] virtual QCoro::Task<std::expected<ConversationRecordSummary, ControlPlaneFailure>>
    storeConversation(QByteArray body) const = 0;
    // `limit` is clamped to 1...100; an empty cursor is sent as an empty value.
    [[nodiscard]] virtual QCoro::Task<std::expected<ConversationPage, ControlPlaneFailure>> conversationPage(
        int limit, std::optional<QString> cursor) const = 0;
    [[nodiscard]] virtual QCoro::Task<std::expected<ConversationUploadPayload, ControlPlaneFailure>>
    conversation(QUuid id) const = 0;
    [[nodiscard]] virtual QCoro::Task<std::expected<ConversationDeletionOutcome, ControlPlaneFailure>>
    deleteConversation(QUuid id) const = 0;
    [[nodiscard]] virtual QCoro::Task<std::expected<void, ControlPlaneFailure>> approveConversationDeletion(
        QUuid id) const = 0;
    [[nodiscard]] virtual QCoro::Task<std::expected<void, ControlPlaneFailure>> declineConversationDeletion(
        QUuid id) const = 0;
    [[nodiscard]] virtual QCoro::Task<std::expected<void, ControlPlaneFailure>> hideConversation(
        QUuid id) const = 0;
    [[nodiscard]] virtual QCoro::Task<std::expected<void, ControlPlaneFailure>> unhideConversation(
        QUuid id) const = 0;
};

} // namespace lumora
