#pragma once

#include "domain/DerivedSessionResult.hpp"

#include <QDateTime>

namespace lumora {

// The one review that the UI smoke mode shows when this computer has none: a finished
// conversation of 141 seconds, completed an hour before `now`.
struct SmokeDemoResult {
    static DerivedSessionResult make(const QDateTime& now);
};

} // namespace lumora
