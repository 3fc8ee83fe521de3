#pragma once

#include "PairingTexts.hpp"
#include "domain/CheckinReminderSettings.hpp"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QtQml/qqmlregistration.h>
#include <qcoro/qcorotask.h>

namespace lumora {

class SessionViewModel;

// What the account page reads and calls: the identity, the version, the pairing step with its
// texts, and the weekly reminder, in the types QML reads (an absent text is empty). Every
// change of the view model's account, pairing or reminder state is one `changed`.
class AccountSession : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The account page reads the session the shell hands it.")
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY changed)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY changed)
    Q_PROPERTY(QString deviceLabel READ deviceLabel NOTIFY changed)
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(QString build READ build CONSTANT)

    Q_PROPERTY(QString pairingStep READ pairingStep NOTIFY changed)
    Q_PROPERTY(bool isPairingBusy READ isPairingBusy NOTIFY changed)
    Q_PROPERTY(QString pairingError READ pairingError NOTIFY changed)
    Q_PROPERTY(QString linkedSince READ linkedSince NOTIFY changed)
    Q_PROPERTY(QString sharedHistorySentence READ sharedHistorySentence NOTIFY changed)
    Q_PROPERTY(QString confirmationDeadline READ confirmationDeadline NOTIFY changed)
    Q_PROPERTY(QString inviteCode READ inviteCode NOTIFY changed)
    Q_PROPERTY(QString inviteCodeAccessibleName READ inviteCodeAccessibleName NOTIFY changed)
    Q_PROPERTY(QString inviteExpiry READ inviteExpiry NOTIFY changed)
    Q_PROPERTY(bool isPartnerDeciding READ isPartnerDeciding NOTIFY changed)
    Q_PROPERTY(QString waitingDetail READ waitingDetail NOTIFY changed)
    Q_PROPERTY(QString earlierHistoryNote READ earlierHistoryNote NOTIFY changed)

    Q_PROPERTY(bool reminderOn READ reminderOn NOTIFY changed)
    Q_PROPERTY(int reminderWeekday READ reminderWeekday NOTIFY changed)
    Q_PROPERTY(int reminderHour READ reminderHour NOTIFY changed)
    Q_PROPERTY(int reminderMinute READ reminderMinute NOTIFY changed)
    Q_PROPERTY(QString reminderNote READ reminderNote NOTIFY changed)
    Q_PROPERTY(QStringList weekdayNames READ weekdayNames CONSTANT)

public:
    AccountSession(SessionViewModel& viewModel, PairingTexts texts, QObject* parent = nullptr);

    // "This computer · " and the first 8 hexadecimal digits of the device ID, lower case.
    static QString deviceLabel(const QUuid& deviceID);
    // The reminder each control asks for, from the published settings; every number clamped.
    static CheckinReminderSettings switched(const CheckinReminderSettings& current, bool isOn);
    static CheckinReminderSettings onWeekday(const CheckinReminderSettings& current, int weekday);
    static CheckinReminderSettings atTime(const CheckinReminderSettings& current, int hour, int minute);
    // Whether anything but spaces and tabs was typed (a line break counts as typed).
    Q_INVOKABLE static bool isCodeEntered(const QString& draft);
    // Sunday first: the list position plus one is the weekday number.
    static QStringList weekdayNames();

    [[nodiscard]] bool isSignedIn() const;
    [[nodiscard]] bool isBusy() const;
    [[nodiscard]] QString deviceLabel() const;
    [[nodiscard]] QString version() const;
    [[nodiscard]] QString build() const;

    [[nodiscard]] QString pairingStep() const;
    [[nodiscard]] bool isPairingBusy() const;
    [[nodiscard]] QString pairingError() const;
    [[nodiscard]] QString linkedSince() const;
    [[nodiscard]] QString sharedHistorySentence() const;
    [[nodiscard]] QString confirmationDeadline() const;
    [[nodiscard]] QString inviteCode() const;
    [[nodiscard]] QString inviteCodeAccessibleName() const;
    [[nodiscard]] QString inviteExpiry() const;
    [[nodiscard]] bool isPartnerDeciding() const;
    [[nodiscard]] QString waitingDetail() const;
    [[nodiscard]] QString earlierHistoryNote() const;

    [[nodiscard]] bool reminderOn() const;
    [[nodiscard]] int reminderWeekday() const;
    [[nodiscard]] int reminderHour() const;
    [[nodiscard]] int reminderMinute() const;
    [[nodiscard]] QString reminderNote() const;

    Q_INVOKABLE void signOut();
    Q_INVOKABLE void deleteAccount();

    Q_INVOKABLE void refreshPairing();
    Q_INVOKABLE void createInvite();
    // Redeems the code as typed; `redeemFinished` tells whether a redemption is now held.
    Q_INVOKABLE void redeem(const QString& code);
    Q_INVOKABLE void confirmPairing();
    // Drops the redemption on screen only; the server keeps it until it expires.
    Q_INVOKABLE void cancelConfirmation();
    Q_INVOKABLE void clearPairingError();
    // Leaves the fresh code; the section falls to the next step.
    Q_INVOKABLE void dismissInvite();
    // Unlinks, then refreshes the history from the server whatever the outcome.
    Q_INVOKABLE void unlink();
    // Puts the fresh code on the clipboard as plain text; false when there is none.
    Q_INVOKABLE bool copyInviteCode();

    Q_INVOKABLE void setReminderOn(bool isOn);
    Q_INVOKABLE void setReminderWeekday(int weekday);
    Q_INVOKABLE void setReminderTime(int hour, int minute);

signals:
    void changed();
    void redeemFinished(bool redeemed);

private:
    QCoro::Task<void> redeemThenReport(QString code);
    QCoro::Task<void> unlinkThenSynchronize();
    void requestReminder(const CheckinReminderSettings& settings);

    SessionViewModel& m_viewModel;
    PairingTexts m_texts;
};

} // namespace lumora
