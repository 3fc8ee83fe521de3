#pragma once

#include <QMetaType>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// One step of the agenda strip as QML reads it: its name and where it stands against the
// current step (neither passed nor current: still ahead).
class AgendaStepValue {
    Q_GADGET
    QML_VALUE_TYPE(agendaStep)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(bool passed MEMBER passed)
    Q_PROPERTY(bool current MEMBER current)

public:
    QString name;
    bool passed = false;
    bool current = false;

    bool operator==(const AgendaStepValue&) const = default;
};

} // namespace lumora
