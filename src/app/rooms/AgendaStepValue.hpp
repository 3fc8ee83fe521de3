#pragma once

#include <QString>

namespace lumora {

// One step of the agenda strip: its name and where it stands against the current step (neither
// passed nor current: still ahead).
struct AgendaStepValue {
    QString name;
    bool passed = false;
    bool current = false;

    bool operator==(const AgendaStepValue&) const = default;
};

} // namespace lumora
