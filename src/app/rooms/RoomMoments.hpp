#pragma once

#include "domain/BehaviorAnnotation.hpp"
#include "domain/ProcessFoulAnnotation.hpp"

#include <QList>
#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The room's behaviour annotations and process fouls so far, of both seats, handed whole to
// the pieces that count or draw them (gauges, pattern summary, arc, corners). The lists are
// shared, so passing the value on copies nothing.
struct RoomMoments {
    Q_GADGET
    QML_VALUE_TYPE(roomMoments)
    // Whether there is no annotation and no foul at all, whatever its confidence.
    Q_PROPERTY(bool isEmpty READ isEmpty CONSTANT)

public:
    QList<BehaviorAnnotation> annotations;
    QList<ProcessFoulAnnotation> fouls;

    [[nodiscard]] bool isEmpty() const { return annotations.isEmpty() && fouls.isEmpty(); }
    bool operator==(const RoomMoments&) const = default;
};

} // namespace lumora
