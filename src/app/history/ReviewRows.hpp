#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// One seat's part of the floor bar: its legend text and the fraction of the strip it fills.
struct FloorSegment {
    Q_GADGET
    QML_VALUE_TYPE(floorSegment)
    Q_PROPERTY(QString label MEMBER label CONSTANT)
    // 0 to 1.
    Q_PROPERTY(double share MEMBER share CONSTANT)
    // Speaker 0 is the left seat and its colours; any other speaker the right seat's.
    Q_PROPERTY(bool isLeftSeat MEMBER isLeftSeat CONSTANT)

public:
    QString label;
    double share = 0;
    bool isLeftSeat = true;

    bool operator==(const FloorSegment&) const = default;
};

// One seat's line of "the shape of it".
struct ShapeRow {
    Q_GADGET
    QML_VALUE_TYPE(shapeRow)
    Q_PROPERTY(QString speaker MEMBER speaker CONSTANT)
    Q_PROPERTY(QString turns MEMBER turns CONSTANT)
    Q_PROPERTY(QString longest MEMBER longest CONSTANT)
    Q_PROPERTY(bool isLeftSeat MEMBER isLeftSeat CONSTANT)

public:
    QString speaker;
    QString turns;
    QString longest;
    bool isLeftSeat = true;

    bool operator==(const ShapeRow&) const = default;
};

// One behaviour or process foul the observer saw, with how often.
struct DefinitionRow {
    Q_GADGET
    QML_VALUE_TYPE(definitionRow)
    Q_PROPERTY(QString title MEMBER title CONSTANT)
    Q_PROPERTY(QString count MEMBER count CONSTANT)
    Q_PROPERTY(bool isWarm MEMBER isWarm CONSTANT)
    Q_PROPERTY(bool isFoul MEMBER isFoul CONSTANT)

public:
    QString title;
    QString count;
    bool isWarm = false;
    bool isFoul = false;

    bool operator==(const DefinitionRow&) const = default;
};

} // namespace lumora
