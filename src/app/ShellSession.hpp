#pragma once

#include "AccountSession.hpp"

#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <qcoro/qcorotask.h>

namespace lumora {

class SessionViewModel;

// What the shell's views read and call on the session view model, in the types QML reads:
// an absent error is an empty text. It forwards every change signal, adds nothing of its own
// state, and runs the migration answer (choice, backup service, history refresh) in order.
class ShellSession : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool recordingAgreementAccepted READ recordingAgreementAccepted NOTIFY
            recordingAgreementAcceptedChanged)
    Q_PROPERTY(bool needsMigrationOffer READ needsMigrationOffer NOTIFY needsMigrationOfferChanged)
    Q_PROPERTY(bool configurationAvailable READ configurationAvailable CONSTANT)
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY isSignedInChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(bool isAppleAuthorizationActive READ isAppleAuthorizationActive NOTIFY
            isAppleAuthorizationActiveChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString signInAddress READ signInAddress NOTIFY signInAddressChanged)
    Q_PROPERTY(qint64 conversationsAwaitingMigrationOffer READ conversationsAwaitingMigrationOffer NOTIFY
            conversationsAwaitingMigrationOfferChanged)
    Q_PROPERTY(QObject* account READ account CONSTANT)

public:
    explicit ShellSession(
        SessionViewModel& viewModel, std::function<QDateTime()> clock, QObject* parent = nullptr);

    [[nodiscard]] bool recordingAgreementAccepted() const;
    [[nodiscard]] bool needsMigrationOffer() const;
    [[nodiscard]] bool configurationAvailable() const;
    [[nodiscard]] bool isSignedIn() const;
    [[nodiscard]] bool isBusy() const;
    [[nodiscard]] bool isAppleAuthorizationActive() const;
    [[nodiscard]] QString errorMessage() const;
    // The sign-in page the browser could not show, for the user to copy; empty otherwise.
    [[nodiscard]] QString signInAddress() const;
    [[nodiscard]] qint64 conversationsAwaitingMigrationOffer() const;
    // The account page's own view of the same view model.
    [[nodiscard]] AccountSession* account() const { return m_account; }

    Q_INVOKABLE void acceptRecordingAgreement();
    Q_INVOKABLE void beginAppleAuthorization();
    Q_INVOKABLE void cancelAppleAuthorization();
    // Puts the sign-in address on the clipboard as plain text; false when there is none.
    Q_INVOKABLE bool copySignInAddress();
    Q_INVOKABLE void handleExternalURL(const QUrl& url);
    Q_INVOKABLE void synchronizeHistory(bool refreshFromServer);
    // Records the answer to the migration offer; `migrationAnswered` follows when done.
    Q_INVOKABLE void answerMigration(bool accepted);
    QCoro::Task<void> answer(bool accepted);

signals:
    void recordingAgreementAcceptedChanged();
    void needsMigrationOfferChanged();
    void isSignedInChanged();
    void isBusyChanged();
    void isAppleAuthorizationActiveChanged();
    void errorMessageChanged();
    void signInAddressChanged();
    void conversationsAwaitingMigrationOfferChanged();
    void migrationAnswered();

private:
    SessionViewModel& m_viewModel;
    std::function<QDateTime()> m_clock;
    AccountSession* m_account = nullptr;
};

} // namespace lumora
