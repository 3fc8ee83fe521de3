#include "controlplane/ProviderSetup.hpp"

#include "analysis/ModelAnalyzer.hpp"
#include "controlplane/AnthropicMessagesClient.hpp"
#include "controlplane/DeepgramGrantClient.hpp"
#include "controlplane/HttpsClient.hpp"
#include "controlplane/ProviderKeyFile.hpp"

namespace lumora {

namespace {

std::expected<std::shared_ptr<const HttpsClient>, std::string> clientFor(const QString& url)
{
    auto target = HttpsTarget::parse(url.toStdString());
    if (!target)
        return std::unexpected(target.error());
    return HttpsClient::create(std::move(*target));
}

} // namespace

std::expected<void, std::string> connectProviders(const ProviderOptions& options,
    ConversationSettings& conversation, const ProviderLog& log, qint64 promptBytes)
{
    if (options.deepgramKeyFile) {
        auto key = readProviderKey(options.deepgramKeyFile->toStdString());
        if (!key)
            return std::unexpected(key.error());
        auto http = clientFor(options.deepgramUrl);
        if (!http)
            return std::unexpected(http.error());
        conversation.speechGrants
            = std::make_shared<DeepgramGrantClient>(std::move(*http), std::move(*key), log);
    }
    if (options.anthropicKeyFile) {
        auto key = readProviderKey(options.anthropicKeyFile->toStdString());
        if (!key)
            return std::unexpected(key.error());
        auto http = clientFor(options.anthropicUrl);
        if (!http)
            return std::unexpected(http.error());
        auto model = std::make_shared<AnthropicMessagesClient>(
            std::move(*http), std::move(*key), options.anthropicModel);
        ModelAnalyzerSettings settings;
        settings.maximumPromptBytes = promptBytes;
        conversation.analyzer = std::make_shared<ModelAnalyzer>(std::move(model), settings, log);
    }
    return {};
}

} // namespace lumora
