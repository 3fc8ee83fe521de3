#pragma once

#include <QMetaType>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// One finding of a transcript row as its chip reads it: the behaviour code or the foul, as on
// the wire ("criticism", "kitchen_sinking"), and its confidence.
class TranscriptChipValue {
    Q_GADGET
    QML_VALUE_TYPE(transcriptChip)
    Q_PROPERTY(QString code MEMBER code)
    Q_PROPERTY(double confidence MEMBER confidence)

public:
    QString code;
    double confidence = 0;

    bool operator==(const TranscriptChipValue&) const = default;
};

} // namespace lumora
