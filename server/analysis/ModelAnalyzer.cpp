#include "analysis/ModelAnalyzer.hpp"

#include "analysis/ModelAnswerReader.hpp"
#include "analysis/ModelPrompts.hpp"
#include "wire/AnalysisPass.hpp"

#include <algorithm>
#include <thread>

namespace lumora {

ModelAnalyzer::ModelAnalyzer(
    std::shared_ptr<const ModelService> service, ModelAnalyzerSettings settings, ProviderLog log)
    : m_service(std::move(service))
    , m_settings(settings)
    , m_log(std::move(log))
{
}

template <typename T, typename Read>
std::expected<T, std::string> ModelAnalyzer::ask(
    const ModelRequest& base, const ModelAnalyzerSettings::Budget& budget, Read read) const
{
    using namespace std::chrono;
    if (base.system.toUtf8().size() + base.user.toUtf8().size() > m_settings.maximumPromptBytes)
        return std::unexpected("the prompt is larger than the limit of "
            + std::to_string(m_settings.maximumPromptBytes) + " bytes");
    const auto deadline = steady_clock::now() + budget.total;
    std::string reason = "no attempt fitted the budget";
    for (int attempt = 1; attempt <= m_settings.maximumAttempts; ++attempt) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
        if (left <= milliseconds(0))
            break;
        ModelRequest request = base;
        request.timeout = std::min(budget.attemptTimeout, left);
        request.maximumTokens = budget.maximumTokens;
        const auto answer = m_service->complete(request);
        std::optional<ModelFailure> failure;
        if (answer) {
            auto value = read(*answer);
            if (value)
                return std::move(*value);
            failure = ModelFailure { ModelFailure::Kind::unreadable, value.error() };
        } else {
            failure = answer.error();
        }
        reason = failure->reason + " (attempt " + std::to_string(attempt) + ")";
        if (!failure->retryable())
            break;
        const auto pause
            = std::min(m_settings.retryPause, duration_cast<milliseconds>(deadline - steady_clock::now()));
        if (pause > milliseconds(0) && attempt < m_settings.maximumAttempts)
            std::this_thread::sleep_for(pause);
    }
    return std::unexpected(reason);
}

void ModelAnalyzer::logFallback(const char* call, const std::string& reason) const
{
    if (m_log)
        m_log(std::string("analysis: ") + call + " answered by the rule-based analyzer: " + reason);
}

std::expected<AnalysisProviderResult, AnalyzerError> ModelAnalyzer::analyze(
    const AnalysisProviderPayload& request) const
{
    const auto rubric = fromString<AnalysisRubric>(request.rubricVersion);
    if (!rubric)
        return std::unexpected(AnalyzerError::unknownRubric);
    // No turns, nothing to ask a model about.
    if (request.turns.isEmpty())
        return m_rules.analyze(request);
    const ModelRequest question { modelprompts::analysisSystem(*rubric),
        modelprompts::analysisUser(request) };
    auto result = ask<AnalysisProviderResult>(question, m_settings.analysis,
        [&](const ModelAnswer& answer) { return modelanswer::readAnalysis(answer, request, *rubric); });
    if (result)
        return std::move(*result);
    logFallback(request.pass == AnalysisPass::final ? "final analysis" : "live analysis", result.error());
    return m_rules.analyze(request);
}

std::expected<ConversationNudge, AnalyzerError> ModelAnalyzer::nudge(
    const NudgeProviderPayload& request) const
{
    if (request.rubricVersion != QLatin1String(nudgeRubricVersion))
        return std::unexpected(AnalyzerError::unknownRubric);
    if (request.turns.isEmpty())
        return m_rules.nudge(request);
    const ModelRequest question { modelprompts::nudgeSystem(), modelprompts::nudgeUser(request) };
    auto nudge = ask<ConversationNudge>(
        question, m_settings.nudge, [](const ModelAnswer& answer) { return modelanswer::readNudge(answer); });
    if (nudge)
        return std::move(*nudge);
    logFallback("nudge", nudge.error());
    return m_rules.nudge(request);
}

} // namespace lumora
