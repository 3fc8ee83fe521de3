#pragma once

#include "domain/BehaviorCode.hpp"

#include <QString>
#include <optional>

namespace lumora {

// The words the rooms and the history use for a behaviour code. A positive moment needs
// no coaching, so it has neither title nor body.
QString displayName(BehaviorCode code);
std::optional<QString> coachingTitle(BehaviorCode code);
std::optional<QString> coachingBody(BehaviorCode code);

} // namespace lumora
