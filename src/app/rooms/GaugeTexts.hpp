#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// What the warm/hard gauges read from two counts: where the needle stands, the two tallies,
// a seat's ratio line and what a screen reader hears.
class GaugeTexts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // warm ÷ (warm + hard); 0.5, the needle straight up, while nothing has been counted.
    Q_INVOKABLE static double warmFraction(qint64 warm, qint64 hard);
    // "0", or the count after a minus sign (U+2212, not the hyphen).
    Q_INVOKABLE static QString hardTally(qint64 hard);
    // "+" and the count, "+0" included.
    Q_INVOKABLE static QString warmTally(qint64 warm);
    // A seat's line: waiting, "n:0" with no hard moment, else warm ÷ hard to one decimal.
    Q_INVOKABLE static QString ratioLabel(qint64 warm, qint64 hard);
    // The shared gauge as one accessibility element.
    Q_INVOKABLE static QString balanceDescription(qint64 warm, qint64 hard);
    // A seat's gauge as one accessibility element, its ratio line last.
    Q_INVOKABLE static QString personalDescription(qint64 warm, qint64 hard);
};

} // namespace lumora
