#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <optional>

namespace lumora {

// The labels of the transcript's pattern chips and the talk-share ring's texts.
class PatternTexts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // A count: the name, " ×" and the count; else a confidence: the name, " · " and the
    // confidence as a whole percentage; else the name alone.
    static QString chipLabel(
        const QString& name, std::optional<qint64> count, std::optional<double> confidence);
    // The chip of a behaviour code or a process foul named by its value on the wire
    // ("criticism", "kitchen_sinking"), as a transcript row holds it: a count or a confidence
    // below 0 is not given. A name that is no code or foul has no label.
    static QString behaviorChipLabel(const QString& code, qint64 count, double confidence);
    static QString foulChipLabel(const QString& foul, qint64 count, double confidence);
    // Whether that behaviour code is a warm one.
    static bool isWarmCode(const QString& code);

    // The ring's centre ("42%") and what a screen reader hears of it.
    Q_INVOKABLE static QString ringPercent(double share);
    Q_INVOKABLE static QString ringDescription(double share);
};

} // namespace lumora
