#pragma once

#include "domain/SpeakerTurn.hpp"
#include "providers/LiveAnalysisContext.hpp"
#include "providers/ProviderFailure.hpp"
#include "wire/ConversationNudge.hpp"

#include <QList>
#include <QUuid>
#include <expected>
#include <qcoro/qcorotask.h>

namespace lumora {

// One contextual coaching nudge for the partner with speaker index `targetSpeaker`.
class NudgeProvider {
public:
    virtual ~NudgeProvider() = default;

    [[nodiscard]] virtual QCoro::Task<std::expected<ConversationNudge, ProviderFailure>> requestNudge(
        QList<SpeakerTurn> turns, LiveAnalysisContext context, qint64 targetSpeaker,
        QUuid reservationID) const = 0;
};

} // namespace lumora
