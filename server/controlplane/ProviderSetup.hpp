#pragma once

#include "analysis/ModelService.hpp"
#include "controlplane/ConversationEndpoints.hpp"
#include "controlplane/ProviderOptions.hpp"

#include <expected>
#include <string>

namespace lumora {

// Reads the key files the options name and puts the provider clients into `conversation`:
// speech grants from the speech provider, analysis from the model (sent prompts of at most
// `promptBytes`). An unreadable key file, or one others may read, is an error (the server
// then refuses to start).
std::expected<void, std::string> connectProviders(const ProviderOptions& options,
    ConversationSettings& conversation, const ProviderLog& log, qint64 promptBytes);

} // namespace lumora
