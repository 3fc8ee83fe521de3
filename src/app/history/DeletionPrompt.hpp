#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The words of a deletion as its kind has them: the review sheet's button, and the
// confirmation dialog's title, message and destructive button.
struct DeletionPrompt {
    Q_GADGET
    QML_VALUE_TYPE(deletionPrompt)
    Q_PROPERTY(QString button MEMBER button CONSTANT)
    Q_PROPERTY(QString title MEMBER title CONSTANT)
    Q_PROPERTY(QString message MEMBER message CONSTANT)
    Q_PROPERTY(QString confirm MEMBER confirm CONSTANT)

public:
    QString button;
    QString title;
    QString message;
    QString confirm;

    bool operator==(const DeletionPrompt&) const = default;
};

} // namespace lumora
