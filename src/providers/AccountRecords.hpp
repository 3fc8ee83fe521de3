#pragma once

#include "domain/EnumText.hpp"
#include "domain/JsonDecodeError.hpp"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <array>
#include <expected>
#include <optional>

// The account, session and usage records of the control plane. Their JSON forms use the
// field names as keys; the control-plane encoder and decoder map those to snake case.
namespace lumora {

// The account as the control plane reports it; a value means the user is signed in.
struct AccountState {
    QUuid accountID;
    QUuid deviceID;

    bool operator==(const AccountState&) const = default;
    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<AccountState, JsonDecodeError> fromJson(const QJsonValue& value);
};

// The outcome of signing in, registering or recovering this computer.
struct DeviceRegistration {
    QUuid accountID;
    QUuid deviceID;

    bool operator==(const DeviceRegistration&) const = default;
    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<DeviceRegistration, JsonDecodeError> fromJson(const QJsonValue& value);
};

// The server-side conversation session that a usage reservation is asked for.
struct ConversationSessionState {
    std::optional<QUuid> sessionID;
    std::optional<QString> status;
    std::optional<QDateTime> expiresAt;

    bool operator==(const ConversationSessionState&) const = default;
    // Absent fields are left out; the expiry is ISO-8601 in whole seconds.
    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<ConversationSessionState, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

// The reservation that covers one conversation.
struct UsageReservation {
    QUuid id;
    double maximumSeconds = 0;

    bool operator==(const UsageReservation&) const = default;
    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<UsageReservation, JsonDecodeError> fromJson(const QJsonValue& value);
};

// A short-lived credential for the speech provider.
struct DeepgramGrant {
    QString accessToken;
    qint64 expiresIn = 0;

    bool operator==(const DeepgramGrant&) const = default;
    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<DeepgramGrant, JsonDecodeError> fromJson(const QJsonValue& value);
};

enum class DeepgramOperation { liveTranscription, finalTranscription };
template <> struct EnumTraits<DeepgramOperation> {
    static constexpr std::array allCases { DeepgramOperation::liveTranscription,
        DeepgramOperation::finalTranscription };
};
QString toString(DeepgramOperation operation);

enum class DiagnosticEventType { uncleanTermination, updateFailed, providerDegraded };
template <> struct EnumTraits<DiagnosticEventType> {
    static constexpr std::array allCases { DiagnosticEventType::uncleanTermination,
        DiagnosticEventType::updateFailed, DiagnosticEventType::providerDegraded };
};
QString toString(DiagnosticEventType type);

enum class ProductAnalyticsEvent { appOpened, resultReviewed };
template <> struct EnumTraits<ProductAnalyticsEvent> {
    static constexpr std::array allCases { ProductAnalyticsEvent::appOpened,
        ProductAnalyticsEvent::resultReviewed };
};
QString toString(ProductAnalyticsEvent event);

} // namespace lumora
