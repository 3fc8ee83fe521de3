#pragma once

#include "providers/AccountRecords.hpp"
#include "providers/ProviderFailure.hpp"

#include <QString>
#include <QUuid>
#include <expected>
#include <qcoro/qcorotask.h>

namespace lumora {

// Reports one speech-provider operation against the reservation: the model, the audio
// duration in whole seconds, the elapsed milliseconds and the outcome as an HTTP status.
class ProviderUsageReporter {
public:
    virtual ~ProviderUsageReporter() = default;

    [[nodiscard]] virtual QCoro::Task<std::expected<void, ProviderFailure>> reportDeepgram(
        QUuid reservationID, DeepgramOperation operation, QString model, qint64 durationSeconds,
        qint64 latencyMilliseconds, qint64 statusCode) const = 0;
};

} // namespace lumora
