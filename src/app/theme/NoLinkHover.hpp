#pragma once

#include <QObject>
#include <QQmlParserStatus>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// Placed in a rich or styled Text without links, keeps it from taking hover events. Qt Quick has
// every such text take them, for its links, and walks every item that does after each frame in
// which anything changed while the pointer is over the window: a transcript of paragraphs was
// walked row by row at every frame.
class NoLinkHover : public QObject, public QQmlParserStatus {
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    QML_ELEMENT

public:
    using QObject::QObject;

    void classBegin() override { }
    void componentComplete() override;

private slots:
    // The text takes hover again whenever its text or its format is set.
    void turnOff();
};

} // namespace lumora
