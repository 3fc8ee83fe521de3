#pragma once

#include "providers/AccountRecords.hpp"
#include "providers/AnalysisProvider.hpp"
#include "providers/CheckinPackClient.hpp"
#include "providers/ControlPlaneFailure.hpp"
#include "providers/ControlPlaneHttp.hpp"
#include "providers/ConversationContentClient.hpp"
#include "providers/NudgeProvider.hpp"
#include "providers/PairingClient.hpp"
#include "providers/ProviderTokenSource.hpp"
#include "providers/ProviderUsageReporter.hpp"
#include "providers/ReplyDecoding.hpp"
#include "providers/SessionAuthorizationProvider.hpp"
#include "security/DeviceIdentity.hpp"
#include "wire/ControlPlaneJson.hpp"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <expected>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumora {

// The control plane's error body, {"error": code}; other keys are ignored.
struct ControlPlaneErrorResponse {
    QString error;
    [[nodiscard]] static std::expected<ControlPlaneErrorResponse, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

// The one signed JSON-over-HTTPS client of the control plane. Every call of a registered
// device goes through `rawSend`, which signs it with the device key. Immutable after
// construction; several requests may be in flight at once and finish in any order.
// Nothing is retried. The network access manager is shared and must outlive the client.
// It is the engine's reservation, speech-grant, analysis, nudge and usage collaborator;
// those calls fail with the `ControlPlaneFailure` inside their `ProviderFailure`.
class ControlPlaneClient : public SessionAuthorizationProvider,
                           public ProviderTokenSource,
                           public AnalysisProvider,
                           public NudgeProvider,
                           public ProviderUsageReporter,
                           public CheckinPackClient,
                           public PairingClient,
                           public ConversationContentClient {
public:
    using QueryItems = controlplanehttp::QueryItems;
    using Clock = std::function<QDateTime()>;

    ControlPlaneClient(QUrl baseURL, QUuid deviceID, DeviceIdentity identity, QNetworkAccessManager& session,
        Clock clock = &QDateTime::currentDateTimeUtc);
    ~ControlPlaneClient() override = default;

    [[nodiscard]] const QUrl& baseURL() const { return m_baseURL; }
    [[nodiscard]] const QUuid& deviceID() const { return m_deviceID; }
    // The same device's client, sending through `session`.
    [[nodiscard]] ControlPlaneClient through(QNetworkAccessManager& session) const
    {
        return ControlPlaneClient(m_baseURL, m_deviceID, m_identity, session, m_clock);
    }
    [[nodiscard]] const ControlPlaneEncoder& encoder() const { return m_encoder; }
    [[nodiscard]] const ControlPlaneDecoder& decoder() const { return m_decoder; }

    // One signed request. `path` begins with "/v1/" and is signed as given (without the
    // base URL's path or the query); `body` is the encoded JSON, empty for none. Returns
    // the body of a 2xx reply; any other status is a `ControlPlaneError`. The signature, whose
    // work grows with the body, is made on a pool thread.
    [[nodiscard]] virtual QCoro::Task<std::expected<ReplyBody, ControlPlaneFailure>> rawSend(QString path,
        QString method, QueryItems query, QByteArray body, std::optional<QUuid> reservationID) const;

    // POST `body` to `path` and decode the reply as T with the client's decoder.
    template <typename T>
    [[nodiscard]] QCoro::Task<std::expected<T, ControlPlaneFailure>> sendAccount(
        QString path, QByteArray body) const
    {
        return sendAccount<T>(std::move(path), QStringLiteral("POST"), std::move(body));
    }

    template <typename T>
    [[nodiscard]] QCoro::Task<std::expected<T, ControlPlaneFailure>> sendAccount(
        QString path, QString method, QByteArray body) const
    {
        return sendDecoded<T>(std::move(path), std::move(method), std::move(body), std::nullopt);
    }

    // One request without query, its reply decoded as T with the client's decoder (on a pool
    // thread).
    template <typename T>
    [[nodiscard]] QCoro::Task<std::expected<T, ControlPlaneFailure>> sendDecoded(
        QString path, QString method, QByteArray body, std::optional<QUuid> reservationID) const
    {
        const QueryItems none;
        auto reply
            = co_await rawSend(std::move(path), std::move(method), none, std::move(body), reservationID);
        if (!reply)
            co_return std::unexpected(reply.error());
        auto decode = [decoder = m_decoder](const QByteArray& data) { return decoder.decode<T>(data); };
        co_return co_await decodeOffThread<T>(std::move(reply->data), std::move(decode));
    }

    // POST a record's fields, encoded with the client's encoder.
    template <typename T>
    [[nodiscard]] QCoro::Task<std::expected<T, ControlPlaneFailure>> sendAccount(
        QString path, QJsonObject value) const
    {
        return sendAccount<T>(std::move(path), QStringLiteral("POST"), m_encoder.encode(value));
    }

    // Account calls: each one signed request, the reply decoded or the failure passed on.
    [[nodiscard]] QCoro::Task<std::expected<AccountState, ControlPlaneFailure>> accountState() const;
    [[nodiscard]] QCoro::Task<std::expected<ConversationSessionState, ControlPlaneFailure>>
    createConversationSession() const;
    [[nodiscard]] QCoro::Task<std::expected<ConversationSessionState, ControlPlaneFailure>>
    currentConversationSession() const;
    [[nodiscard]] QCoro::Task<std::expected<void, ControlPlaneFailure>> reportDiagnostic(
        DiagnosticEventType event, QString status) const;
    [[nodiscard]] QCoro::Task<std::expected<void, ControlPlaneFailure>> reportProductEvent(
        ProductAnalyticsEvent event, QString appVersion) const;
    [[nodiscard]] QCoro::Task<std::expected<void, ControlPlaneFailure>> revoke(QUuid deviceID) const;
    [[nodiscard]] QCoro::Task<std::expected<void, ControlPlaneFailure>> deleteAccount() const;

    // The calls around one conversation (ControlPlaneConversationCalls.cpp).
    [[nodiscard]] QCoro::Task<std::expected<UsageReservation, ProviderFailure>> reserve(
        QUuid sessionID, double requestedSeconds) const override;
    [[nodiscard]] QCoro::Task<std::expected<void, ProviderFailure>> finalize(
        QUuid reservationID, qint64 actualSeconds) const override;
    QCoro::Task<bool> cancel(QUuid reservationID) const override;
    [[nodiscard]] QCoro::Task<std::expected<DeepgramGrant, ProviderFailure>> deepgramGrant(
        QUuid reservationID) const override;
    [[nodiscard]] QCoro::Task<std::expected<AnalysisProviderResult, ProviderFailure>> analyze(
        AnalysisPass pass, AnalysisRubric rubric, QList<SpeakerTurn> turns,
        std::optional<LiveAnalysisContext> context, QUuid reservationID) const override;
    [[nodiscard]] QCoro::Task<std::expected<ConversationNudge, ProviderFailure>> requestNudge(
        QList<SpeakerTurn> turns, LiveAnalysisContext context, qint64 targetSpeaker,
        QUuid reservationID) const override;
    [[nodiscard]] QCoro::Task<std::expected<void, ProviderFailure>> reportDeepgram(QUuid reservationID,
        DeepgramOperation operation, QString model, qint64 durationSeconds, qint64 latencyMilliseconds,
        qint64 statusCode) const override;

    // This week's check-in pack, as the server sends it; not judged here.
    [[nodiscard]] QCoro::Task<std::expected<CheckinPack, ControlPlaneFailure>> checkinPack() const override;

    // Partner pairing.
    [[nodiscard]] QCoro::Task<std::expected<PairingInvite, ControlPlaneFailure>> createPairingInvite(
        QString policyVersion) const override;
    [[nodiscard]] QCoro::Task<std::expected<PairingRedemption, ControlPlaneFailure>> redeemPairingInvite(
        QString code) const override;
    [[nodiscard]] QCoro::Task<std::expected<PairingConfirmation, ControlPlaneFailure>> confirmPairingInvite(
        QUuid inviteID, QString policyVersion) const override;
    [[nodiscard]] QCoro::Task<std::expected<void, ControlPlaneFailure>> unlinkPairing() const override;
    [[nodiscard]] QCoro::Task<std::expected<PairingState, ControlPlaneFailure>> pairingState() const override;

    // Conversation content calls (ConversationContentCalls.cpp). Their replies name their
    // keys themselves and are read without the reply key conversion.
    [[nodiscard]] QCoro::Task<std::expected<ConversationRecordSummary, ControlPlaneFailure>>
    storeConversation(QByteArray body) const override;
    [[nodiscard]] QCoro::Task<std::expected<ConversationPage, ControlPlaneFailure>> conversationPage(
        int limit, std::optional<QString> cursor) const override;
    [[nodiscard]] QCoro::Task<std::expected<ConversationUploadPayload, ControlPlaneFailure>> conversation(
        QUuid id) const override;
    [[nodiscard]] QCoro::Task<std::expected<ConversationDeletionOutcome, ControlPlaneFailure>>
    deleteConversation(QUuid id) const override;
    [[nodiscard]] QCoro::Task<std::expected<void, ControlPlaneFailure>> approveConversationDeletion(
        QUuid id) const override;
    [[nodiscard]] QCoro::Task<std::expected<void, ControlPlaneFailure>> declineConversationDeletion(
        QUuid id) const override;
    [[nodiscard]] QCoro::Task<std::expected<void, ControlPlaneFailure>> hideConversation(
        QUuid id) const override;
    [[nodiscard]] QCoro::Task<std::expected<void, ControlPlaneFailure>> unhideConversation(
        QUuid id) const override;

private:
    [[nodiscard]] QCoro::Task<std::expected<void, ControlPlaneFailure>> sendAcknowledged(
        QString path, QByteArray body) const;

    QUrl m_baseURL;
    QUuid m_deviceID;
    DeviceIdentity m_identity;
    // Gone with its owner (the view model) while a signature is made: the request is then not sent.
    QPointer<QNetworkAccessManager> m_session;
    ControlPlaneEncoder m_encoder;
    ControlPlaneDecoder m_decoder;
    Clock m_clock;
};

} // namespace lumora
