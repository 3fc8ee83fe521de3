#pragma once

#include "analysis/ModelService.hpp"
#include "controlplane/HttpsClient.hpp"

#include <memory>
#include <string>

namespace lumora {

// The analysis service's Messages API: one user message under a system prompt, the
// answer's text blocks joined. The key travels only in the "x-api-key" header.
class AnthropicMessagesClient final : public ModelService {
public:
    static constexpr const char* apiVersion = "2023-06-01";
    static constexpr const char* messagesPath = "/v1/messages";

    AnthropicMessagesClient(std::shared_ptr<const HttpsClient> http, std::string apiKey, QString model);

    std::expected<ModelAnswer, ModelFailure> complete(const ModelRequest& request) const override;
    // The service's reply to one call: its answer, or why there is none.
    static std::expected<ModelAnswer, ModelFailure> answerOf(const HttpsReply& reply);

private:
    std::shared_ptr<const HttpsClient> m_http;
    std::string m_apiKey;
    QString m_model;
};

} // namespace lumora
