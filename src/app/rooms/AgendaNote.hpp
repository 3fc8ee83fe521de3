#pragma once

#include "providers/HarshStartupEvidence.hpp"

#include <QString>
#include <optional>

namespace lumora {

// The note under the agenda strip: how the conversation keeps to the current step.
struct AgendaNote {
    // The rehearsal's fixed line; on the second step (index exactly 1) a start-up finding of at
    // least 0.5 confidence; else the live analysis's note as it came (empty: none).
    static QString note(bool rehearsalActive, int selectedStep,
        const std::optional<HarshStartupEvidence>& startup, const QString& liveStepNote);
};

} // namespace lumora
