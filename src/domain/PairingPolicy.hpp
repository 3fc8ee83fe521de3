#pragma once

#include <QStringView>

namespace lumora {

struct PairingPolicy {
    // The pairing policy under which invites are created and confirmed; sent with both.
    static constexpr QStringView version = u"pairing-2026-08-18";
};

} // namespace lumora
