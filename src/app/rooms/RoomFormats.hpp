#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// Numbers and seat colours as every piece of the rooms shows them.
class RoomFormats : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // Minutes and two-digit seconds of whole seconds, as the transcript and the corners read.
    Q_INVOKABLE static QString clock(double seconds);
    // A count in the user's locale.
    Q_INVOKABLE static QString count(qint64 value);
    // A fraction as a whole percentage, truncated toward zero (0.57 is 56: 0.57 × 100 lies
    // just below 57). The fraction comes from the analysis service or a stored file: one
    // that is not a number counts as 0 and any other is limited to 0...1 first, so the
    // percentage is always 0 to 100.
    Q_INVOKABLE static int percent(double fraction);
    // The left display side's colour, or the right one's for any other side.
    Q_INVOKABLE static QColor seatColor(int displaySide);
};

} // namespace lumora
