#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// What the window's update command and the Account page's updates card read and call: whether
// this build checks for updates at all, a check in progress, what the last one found, and
// checking now.
class UpdateChecker : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The window reads the update checker the application hands it.")
    Q_PROPERTY(bool configured READ configured CONSTANT)
    Q_PROPERTY(bool isChecking READ isChecking NOTIFY isCheckingChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)

public:
    using QObject::QObject;

    [[nodiscard]] virtual bool configured() const = 0;
    [[nodiscard]] virtual bool isChecking() const = 0;
    // What the last check found, in a sentence for the user; empty before the first answer.
    [[nodiscard]] virtual QString message() const = 0;
    // Checks now; ignored while a check runs or when not configured.
    Q_INVOKABLE virtual void checkForUpdates() = 0;

signals:
    void isCheckingChanged();
    void messageChanged();
};

} // namespace lumora
