#pragma once

#include "domain/ProcessFoul.hpp"

#include <QString>

namespace lumora {

// The words the rooms and the history use for a process foul; every foul is coached.
QString displayName(ProcessFoul foul);
QString coachingTitle(ProcessFoul foul);
QString coachingBody(ProcessFoul foul);

} // namespace lumora
