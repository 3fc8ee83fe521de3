#pragma once

#include <QtGlobal>

namespace lumora {

// How long partner codes and redeemed codes stay usable, in seconds.
struct PairingLifetimes {
    qint64 invite = 24 * 3600;
    qint64 confirmation = 15 * 60;
};

} // namespace lumora
