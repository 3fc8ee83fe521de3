#pragma once

#include "domain/BehaviorAnnotation.hpp"
#include "domain/ConversationalFloor.hpp"
#include "domain/ProcessFoulAnnotation.hpp"
#include "domain/SpeakerTurn.hpp"
#include "domain/TurnBoundaryDecision.hpp"
#include "domain/TurnPromptLevel.hpp"

#include <QList>
#include <optional>

namespace lumora {

// The live guidance the conversation room decides on its own while the partners talk:
// whether the exchange is flooded, whether they are going round the same cycle, how long
// one partner has held the floor. Pure rules; every time is seconds of conversation time,
// passed in by the caller.
struct ConversationSignals {
    static constexpr double firstTurnPromptSeconds = 120.0;
    static constexpr double finalTurnPromptSeconds = 180.0;
    static constexpr qint64 floodingWindow = 7;
    static constexpr qint64 floodingThreshold = 4;
    // Annotations and fouls below this confidence count for no signal and no display.
    static constexpr double confidenceFloor = 0.5;
    // Applied by the room to a dismissed break offer.
    static constexpr double breakDismissCooldown = 150.0;
    static constexpr double circularityDismissCooldown = 420.0;
    static constexpr double circularityAcknowledgedCooldown = 600.0;

    // Not-a-number never meets the floor.
    static constexpr bool meetsConfidenceFloor(double confidence) { return confidence >= confidenceFloor; }

    // At least four hard moments (hard codes or any foul) on the last seven settled turns,
    // from at least two different speakers: one partner alone is not a flooded exchange.
    static bool isFlooding(const QList<BehaviorAnnotation>& annotations,
        const QList<ProcessFoulAnnotation>& fouls, qint64 settledTurnCount);
    // Whether one partner keeps saying much the same thing within the last eight turns.
    static bool isLikelyCircular(const QList<SpeakerTurn>& turns, double elapsed);
    static bool circularityReady(
        double confidence, qint64 firstDetectedAtTurn, qint64 settledTurnCount, double elapsed);
    static std::optional<TurnPromptLevel> turnPrompt(double elapsed, bool extensionUsed);
    static ConversationalFloor applyBoundary(
        const ConversationalFloor& floor, const SpeakerTurn& candidate, const TurnBoundaryDecision& decision);
    // Without a model's opinion: a short utterance of the other partner after which the
    // holder speaks again only interrupts; anything else takes the floor over.
    static TurnBoundaryDecision fallbackBoundary(const ConversationalFloor& floor,
        const SpeakerTurn& candidate, const std::optional<SpeakerTurn>& following);
};

} // namespace lumora
