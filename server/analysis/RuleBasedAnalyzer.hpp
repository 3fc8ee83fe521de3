#pragma once

#include "analysis/ConversationAnalyzer.hpp"

#include <QRegularExpression>
#include <vector>

namespace lumora {

// A deterministic analyzer that needs no outside service: phrase rules per behaviour
// code and process foul, a harsh start-up judged on the opening turns, repeated wording
// as evidence of a cycle, keyword cues for the agenda step, and coaching built from what
// it found. The same turns always give the same answer.
class RuleBasedAnalyzer final : public ConversationAnalyzer {
public:
    static constexpr const char* modelName = "lumora-rules-1";
    // Opening turns that a harsh start-up is judged on.
    static constexpr qsizetype openingTurns = 3;
    // A request whose first turn starts later than this does not hold the opening.
    static constexpr double openingWindowSeconds = 60.0;
    // Repeated wording: two turns of one seat sharing this much of their significant words.
    static constexpr double repeatedWordingOverlap = 0.6;

    RuleBasedAnalyzer();

    std::expected<AnalysisProviderResult, AnalyzerError> analyze(
        const AnalysisProviderPayload& request) const override;
    std::expected<ConversationNudge, AnalyzerError> nudge(const NudgeProviderPayload& request) const override;

private:
    struct Rule {
        QRegularExpression pattern;
        double confidence;
    };
    template <typename Finding> struct RuleSet {
        Finding finding;
        std::vector<Rule> rules;
    };

    QList<BehaviorAnnotation> codesIn(const QList<SpeakerTurn>& turns) const;
    QList<ProcessFoulAnnotation> foulsIn(const QList<SpeakerTurn>& turns) const;
    std::optional<StepDetection> stepIn(const QList<SpeakerTurn>& turns) const;

    std::vector<RuleSet<BehaviorCode>> m_codeRules;
    std::vector<RuleSet<ProcessFoul>> m_foulRules;
    std::vector<std::vector<QRegularExpression>> m_stepCues;
};

} // namespace lumora
