#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariant>

namespace lumora::testing {

// Stands in for the session the shell reads: the same names, state set by the test, and
// each call counted.
class FakeShellSession : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool recordingAgreementAccepted MEMBER recordingAgreementAccepted NOTIFY changed)
    Q_PROPERTY(bool needsMigrationOffer MEMBER needsMigrationOffer NOTIFY changed)
    Q_PROPERTY(bool configurationAvailable MEMBER configurationAvailable NOTIFY changed)
    Q_PROPERTY(bool isSignedIn MEMBER isSignedIn NOTIFY changed)
    Q_PROPERTY(bool isBusy MEMBER isBusy NOTIFY changed)
    Q_PROPERTY(bool isAppleAuthorizationActive MEMBER isAppleAuthorizationActive NOTIFY changed)
    Q_PROPERTY(QString errorMessage MEMBER errorMessage NOTIFY changed)
    Q_PROPERTY(QString signInAddress MEMBER signInAddress NOTIFY signInAddressChanged)
    Q_PROPERTY(
        qint64 conversationsAwaitingMigrationOffer MEMBER conversationsAwaitingMigrationOffer NOTIFY changed)
    Q_PROPERTY(QObject* account MEMBER account CONSTANT)

public:
    bool recordingAgreementAccepted = true;
    bool needsMigrationOffer = false;
    bool configurationAvailable = true;
    bool isSignedIn = false;
    bool isBusy = false;
    bool isAppleAuthorizationActive = false;
    QString errorMessage;
    QString signInAddress;
    qint64 conversationsAwaitingMigrationOffer = 0;
    // The account page's session; the test sets it before the window opens.
    QObject* account = nullptr;

    int signInStarts = 0;
    int cancellations = 0;
    QList<bool> refreshes;
    QList<bool> migrationAnswers;

    // Publishes a change made by the test.
    void set(const char* name, const QVariant& value)
    {
        setProperty(name, value);
        emit changed();
        emit signInAddressChanged();
    }

    Q_INVOKABLE void acceptRecordingAgreement() { set("recordingAgreementAccepted", QVariant(true)); }
    Q_INVOKABLE void beginAppleAuthorization()
    {
        ++signInStarts;
        set("isAppleAuthorizationActive", QVariant(true));
    }
    Q_INVOKABLE void cancelAppleAuthorization()
    {
        ++cancellations;
        set("isAppleAuthorizationActive", QVariant(false));
    }
    Q_INVOKABLE bool copySignInAddress() { return !signInAddress.isEmpty(); }
    Q_INVOKABLE void handleExternalURL(const QUrl&) { }
    Q_INVOKABLE void synchronizeHistory(bool refreshFromServer) { refreshes.append(refreshFromServer); }
    Q_INVOKABLE void answerMigration(bool accepted) { migrationAnswers.append(accepted); }

signals:
    void changed();
    void signInAddressChanged();
    void migrationAnswered();
};

} // namespace lumora::testing
