#pragma once

#include "PairingTexts.hpp"
#include "domain/CheckinReminderSettings.hpp"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QtQml/qqmlregistration.h>
#include <chrono>

class QTimer;

namespace lumora {

// What the account page reads and calls: the identity, the version, the pairing step with its
// texts, and the weekly reminder. An absent text is empty. The shell hands in the adapter over
// the session view model; window tests hand in a fake.
class AccountSession : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The account page reads the session the shell hands it.")
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY isSignedInChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(QString deviceLabel READ deviceLabel NOTIFY deviceLabelChanged)
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(QString build READ build CONSTANT)

    Q_PROPERTY(PairingStep pairingStep READ pairingStep NOTIFY pairingStepChanged)
    Q_PROPERTY(bool isPairingBusy READ isPairingBusy NOTIFY isPairingBusyChanged)
    Q_PROPERTY(QString pairingError READ pairingError NOTIFY pairingErrorChanged)
    Q_PROPERTY(QString linkedSince READ linkedSince NOTIFY linkedSinceChanged)
    Q_PROPERTY(QString sharedHistorySentence READ sharedHistorySentence NOTIFY sharedHistorySentenceChanged)
    Q_PROPERTY(QString confirmationDeadline READ confirmationDeadline NOTIFY confirmationDeadlineChanged)
    Q_PROPERTY(QString inviteCode READ inviteCode NOTIFY inviteCodeChanged)
    Q_PROPERTY(QString inviteCodeAccessibleName READ inviteCodeAccessibleName NOTIFY inviteCodeChanged)
    Q_PROPERTY(QString inviteExpiry READ inviteExpiry NOTIFY inviteExpiryChanged)
    Q_PROPERTY(bool isPartnerDeciding READ isPartnerDeciding NOTIFY isPartnerDecidingChanged)
    Q_PROPERTY(QString waitingDetail READ waitingDetail NOTIFY waitingDetailChanged)
    Q_PROPERTY(QString earlierHistoryNote READ earlierHistoryNote NOTIFY earlierHistoryNoteChanged)
    Q_PROPERTY(QString storageNote READ storageNote NOTIFY storageNoteChanged)
    Q_PROPERTY(QString deletionNote READ deletionNote NOTIFY deletionNoteChanged)

    Q_PROPERTY(bool reminderOn READ reminderOn NOTIFY reminderOnChanged)
    Q_PROPERTY(int reminderWeekday READ reminderWeekday NOTIFY reminderWeekdayChanged)
    Q_PROPERTY(int reminderHour READ reminderHour NOTIFY reminderHourChanged)
    Q_PROPERTY(int reminderMinute READ reminderMinute NOTIFY reminderMinuteChanged)
    Q_PROPERTY(QString reminderNote READ reminderNote NOTIFY reminderNoteChanged)
    Q_PROPERTY(QStringList weekdayNames READ weekdayNames CONSTANT)

public:
    // Which of its five steps the pairing section shows.
    enum PairingStep { Linked, Confirmation, FreshCode, Waiting, Unlinked };
    Q_ENUM(PairingStep)

    // How often the section reads the pairing state while a code waits.
    static constexpr std::chrono::milliseconds pairingRefreshInterval = std::chrono::seconds(15);

    explicit AccountSession(QObject* parent = nullptr);

    // "This computer · " and the first 8 hexadecimal digits of the device ID, lower case.
    static QString deviceLabelOf(const QUuid& deviceID);
    // The reminder each control asks for, from the published settings; every number clamped.
    static CheckinReminderSettings switched(const CheckinReminderSettings& current, bool isOn);
    static CheckinReminderSettings onWeekday(const CheckinReminderSettings& current, int weekday);
    static CheckinReminderSettings atTime(const CheckinReminderSettings& current, int hour, int minute);
    // Whether anything but spaces and tabs was typed (a line break counts as typed).
    Q_INVOKABLE static bool isCodeEntered(const QString& draft);
    // Sunday first: the list position plus one is the weekday number.
    static QStringList weekdayNames();

    [[nodiscard]] virtual bool isSignedIn() const = 0;
    [[nodiscard]] virtual bool isBusy() const = 0;
    [[nodiscard]] virtual QString deviceLabel() const = 0;
    [[nodiscard]] virtual QString version() const = 0;
    [[nodiscard]] virtual QString build() const = 0;

    [[nodiscard]] virtual PairingStep pairingStep() const = 0;
    [[nodiscard]] virtual bool isPairingBusy() const = 0;
    [[nodiscard]] virtual QString pairingError() const = 0;
    [[nodiscard]] virtual QString linkedSince() const = 0;
    [[nodiscard]] virtual QString sharedHistorySentence() const = 0;
    [[nodiscard]] virtual QString confirmationDeadline() const = 0;
    [[nodiscard]] virtual QString inviteCode() const = 0;
    [[nodiscard]] QString inviteCodeAccessibleName() const
    {
        return PairingTexts::codeAccessibleName(inviteCode());
    }
    [[nodiscard]] virtual QString inviteExpiry() const = 0;
    [[nodiscard]] virtual bool isPartnerDeciding() const = 0;
    [[nodiscard]] virtual QString waitingDetail() const = 0;
    [[nodiscard]] virtual QString earlierHistoryNote() const = 0;
    // That the account's storage is full and what makes room; empty while there is room.
    [[nodiscard]] virtual QString storageNote() const = 0;
    // Why the account's deletion did not end here (refused, not confirmed yet, or done with some
    // of this computer's data left), said where it is asked for; empty otherwise.
    [[nodiscard]] virtual QString deletionNote() const = 0;

    [[nodiscard]] virtual bool reminderOn() const = 0;
    [[nodiscard]] virtual int reminderWeekday() const = 0;
    [[nodiscard]] virtual int reminderHour() const = 0;
    [[nodiscard]] virtual int reminderMinute() const = 0;
    [[nodiscard]] virtual QString reminderNote() const = 0;

    Q_INVOKABLE virtual void signOut() = 0;
    Q_INVOKABLE virtual void deleteAccount() = 0;

    Q_INVOKABLE virtual void refreshPairing() = 0;
    // The pairing section came on screen, or left it. Shown, it reads the pairing state at
    // once, and again every refresh interval while this user's code waits for the partner (the
    // fresh code or the outstanding invite), so that the partner's joining shows by itself.
    Q_INVOKABLE void setPairingShown(bool shown);
    void setPairingRefreshInterval(std::chrono::milliseconds interval);
    Q_INVOKABLE virtual void createInvite() = 0;
    // Redeems the code as typed; `redeemFinished` tells whether a redemption is now held.
    Q_INVOKABLE virtual void redeem(const QString& code) = 0;
    Q_INVOKABLE virtual void confirmPairing() = 0;
    // Drops the redemption on screen only; the server keeps it until it expires.
    Q_INVOKABLE virtual void cancelConfirmation() = 0;
    Q_INVOKABLE virtual void clearPairingError() = 0;
    // Leaves the fresh code; the section falls to the next step.
    Q_INVOKABLE virtual void dismissInvite() = 0;
    // Unlinks, then refreshes the history from the server whatever the outcome.
    Q_INVOKABLE virtual void unlink() = 0;
    // Puts the fresh code on the clipboard as plain text; false when there is none.
    Q_INVOKABLE bool copyInviteCode();

    Q_INVOKABLE virtual void setReminderOn(bool isOn) = 0;
    Q_INVOKABLE virtual void setReminderWeekday(int weekday) = 0;
    Q_INVOKABLE virtual void setReminderTime(int hour, int minute) = 0;

signals:
    void isSignedInChanged();
    void isBusyChanged();
    void deviceLabelChanged();
    void pairingStepChanged();
    void isPairingBusyChanged();
    void pairingErrorChanged();
    void linkedSinceChanged();
    void sharedHistorySentenceChanged();
    void confirmationDeadlineChanged();
    void inviteCodeChanged();
    void inviteExpiryChanged();
    void isPartnerDecidingChanged();
    void waitingDetailChanged();
    void earlierHistoryNoteChanged();
    void storageNoteChanged();
    void deletionNoteChanged();
    void reminderOnChanged();
    void reminderWeekdayChanged();
    void reminderHourChanged();
    void reminderMinuteChanged();
    void reminderNoteChanged();
    void redeemFinished(bool redeemed);

private:
    QTimer* m_pairingRefresh;
};

} // namespace lumora
