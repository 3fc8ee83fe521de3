#pragma once

#include "analysis/ConversationAnalyzer.hpp"
#include "analysis/ModelService.hpp"
#include "analysis/RuleBasedAnalyzer.hpp"

#include <chrono>
#include <memory>

namespace lumora {

// How long the model-backed analyzer keeps trying before the rule-based answer. The
// application waits 60 s for any reply, so every budget ends well before that.
struct ModelAnalyzerSettings {
    struct Budget {
        std::chrono::milliseconds attemptTimeout;
        std::chrono::milliseconds total;
        qint64 maximumTokens;
    };
    Budget analysis { std::chrono::seconds(30), std::chrono::seconds(45), 4096 };
    Budget nudge { std::chrono::seconds(10), std::chrono::seconds(15), 512 };
    int maximumAttempts = 3;
    // The pause before another attempt.
    std::chrono::milliseconds retryPause { 500 };
    // The largest prompt (system and user text, UTF-8) sent to the model; the rule-based
    // analyzer answers a larger one.
    qsizetype maximumPromptBytes = defaultMaximumPromptBytes;
    static constexpr qsizetype defaultMaximumPromptBytes = 256 * 1024;
};

// Analyses and coaches through a language model, and never lets the model's trouble
// reach the caller: a failed, timed-out or unreadable call is tried again within the
// budget, and then the rule-based analyzer answers (and the fallback is logged), as it does
// at once for a prompt over the size limit. The
// application fails a conversation's finish when its final analysis fails, so an answer
// always comes. Requests under an unknown rubric are refused without calling the model.
class ModelAnalyzer final : public ConversationAnalyzer {
public:
    ModelAnalyzer(
        std::shared_ptr<const ModelService> service, ModelAnalyzerSettings settings, ProviderLog log);

    std::expected<AnalysisProviderResult, AnalyzerError> analyze(
        const AnalysisProviderPayload& request) const override;
    std::expected<ConversationNudge, AnalyzerError> nudge(const NudgeProviderPayload& request) const override;

private:
    // Asks the model until `read` accepts an answer or the budget is spent; the reason of
    // the last failure otherwise.
    template <typename T, typename Read>
    std::expected<T, std::string> ask(
        const ModelRequest& request, const ModelAnalyzerSettings::Budget& budget, Read read) const;
    void logFallback(const char* call, const std::string& reason) const;

    std::shared_ptr<const ModelService> m_service;
    ModelAnalyzerSettings m_settings;
    ProviderLog m_log;
    RuleBasedAnalyzer m_rules;
};

} // namespace lumora
