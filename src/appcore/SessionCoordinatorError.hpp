#pragma once

#include "persistence/ResultStoreError.hpp"
#include "persistence/TemporaryStoreError.hpp"
#include "providers/ProviderFailure.hpp"

#include <variant>

namespace lumora {

// The coordinator's own refusals.
enum class SessionCoordinatorError {
    // The call does not fit the current phase, or the conversation lacks its reservation or id.
    invalidState,
    // A requested or recorded length lies outside what is allowed.
    durationCap,
};

// What prepare and finish fail with: the coordinator's own refusal, or a collaborator's
// failure passed on unchanged (a provider's, the result store's or the temporary store's).
using SessionCoordinatorFailure
    = std::variant<SessionCoordinatorError, ProviderFailure, ResultStoreFailure, TemporaryStoreFailure>;

} // namespace lumora
