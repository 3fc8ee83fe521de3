#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// Texts of the shell that depend on a value.
class ShellTexts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // The migration offer's introduction: the singular sentence for exactly one conversation,
    // the plural one with the count in digits otherwise (0 included).
    Q_INVOKABLE static QString migrationIntroduction(qint64 count);
};

} // namespace lumora
