#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <expected>

namespace lumora {

// One speech-provider operation reported against a reservation: the application writes it,
// the control plane reads it and prices it.
struct ProviderUsageReport {
    QUuid reservationID;
    QString operation; // "live_transcription" or "final_transcription"
    QString model;
    qint64 durationSeconds = 0; // the audio's, whole seconds
    qint64 latencyMS = 0;
    qint64 statusCode = 0; // the operation's outcome as an HTTP status

    bool operator==(const ProviderUsageReport&) const = default;

    // The reservation in the UUID's upper-case text.
    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<ProviderUsageReport, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

// The control plane's receipt of a usage report.
struct ProviderUsageReceipt {
    bool ok = false;
    qint64 estimatedCostMicros = 0;

    bool operator==(const ProviderUsageReceipt&) const = default;

    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<ProviderUsageReceipt, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
