#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// What the window's update command, its update dialog and the Account page's updates card read
// and call: whether this build checks for updates at all, a check in progress, what the window
// says about updates, a newer release found, checking now and opening that release's page.
class UpdateChecker : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The window reads the update checker the application hands it.")
    Q_PROPERTY(bool configured READ configured CONSTANT)
    Q_PROPERTY(bool isChecking READ isChecking NOTIFY isCheckingChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(QString availableVersion READ availableVersion NOTIFY availableVersionChanged)

public:
    using QObject::QObject;

    [[nodiscard]] virtual bool configured() const = 0;
    [[nodiscard]] virtual bool isChecking() const = 0;
    // What the last check the user asked for found ("Checking for updates…" while it runs), or
    // the newer release a quiet check found, in a sentence for the user; empty before either.
    [[nodiscard]] virtual QString message() const = 0;
    // The newer version the newest verified feed offers; empty when this one is the newest.
    [[nodiscard]] virtual QString availableVersion() const = 0;
    // The user asks: checks now (or lets the running check answer) and reports in `message`;
    // ignored when not configured.
    Q_INVOKABLE virtual void checkForUpdates() = 0;
    // The user asks for the newer release's download page; nothing when there is none.
    Q_INVOKABLE virtual void openDownloadPage() = 0;

signals:
    void isCheckingChanged();
    void messageChanged();
    void availableVersionChanged();
};

} // namespace lumora
