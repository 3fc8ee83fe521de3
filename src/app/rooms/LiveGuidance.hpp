#pragma once

#include "domain/SpeakerTurn.hpp"
#include "wire/CircularityEvidence.hpp"

#include <QList>
#include <QString>
#include <optional>

namespace lumora {

// The room's own rules for its three overlays: which one shows, when one partner has held the
// floor too long, what counts as a repeated cycle, and what the overlays say about it.
struct LiveGuidance {
    // Provider evidence of a repeated cycle counts from this confidence; a local finding is
    // handed on with it.
    static constexpr double evidenceThreshold = 0.72;

    enum class Overlay { none, pause, cycle, floor };

    // The floor-hold prompt due now: `speaker` holds the floor (the raw speaker index of the
    // last turn) and `final` says whether the extra minute is up.
    struct FloorPrompt {
        qint64 speaker = 0;
        bool final = false;
        bool operator==(const FloorPrompt&) const = default;
    };

    // What the repeated-cycle gate is handed on one update.
    struct CycleSignal {
        bool qualifying = false;
        double confidence = evidenceThreshold;
        bool operator==(const CycleSignal&) const = default;
    };

    // One overlay at a time: the break, then the repeated cycle, then the floor.
    static Overlay overlay(bool showBreak, bool showCircularity, bool hasFloorPrompt);
    // Only while recording. The run is the trailing turns of the last turn's speaker index (a
    // turn of any other index, even on the same seat, ends it); held from its first turn's
    // start. From 180 s the final prompt unless it was dismissed, once the first prompt has
    // been on screen (`firstShownAt`, conversation seconds) for the extra minute; else from 120 s
    // the first unless it was dismissed (the room counts a dismissed final prompt as both). The
    // extra minute is never up before the first prompt said it began: held back by another
    // overlay past 180 s, the first prompt comes first and the final a minute after it.
    static std::optional<FloorPrompt> floorPrompt(const QList<SpeakerTurn>& turns, double elapsed,
        bool isRecording, std::optional<double> firstShownAt, bool turnExtensionUsed,
        bool dismissedFinalFloor);
    // The partner who does not hold the floor: "Speaker 2" when the holder sits in seat 0,
    // "Speaker 1" when in seat 1.
    static QString floorName(qint64 holder);
    // Qualifying provider evidence (detected, at least 0.72) or the local heuristic's finding;
    // the evidence's own confidence when it qualifies, else 0.72.
    static CycleSignal cycleSignal(const std::optional<CircularityEvidence>& evidence, bool localFinding);
    // The analysis's rationale, empty when there is none.
    static QString cycleRationale(const std::optional<CircularityEvidence>& evidence);
    // The analysis's reset suggestion, or the default sentence when it has none.
    static QString cycleOpening(const std::optional<CircularityEvidence>& evidence);
};

} // namespace lumora
