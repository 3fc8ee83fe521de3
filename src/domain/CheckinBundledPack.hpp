#pragma once

#include "domain/CheckinPack.hpp"

#include <QDateTime>

namespace lumora {

// The pack that stands in whenever the control plane has no usable one. It rotates through
// fixed prompt pools by the UTC week, so both partners (on either machine) get the same pack
// all week and consecutive weeks differ.
struct CheckinBundledPack {
    // Always usable, five sections, 13 suggested minutes, source `fallback`.
    static CheckinPack pack(const QDateTime& date);
};

} // namespace lumora
