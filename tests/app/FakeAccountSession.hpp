#pragma once

#include "AccountSession.hpp"
#include "PublishChange.hpp"

#include <QList>
#include <QString>
#include <functional>

namespace lumora::testing {

// Stands in for the account page's session: the state the test sets, each change published by
// its own signal, and each call counted by name.
class FakeAccountSession final : public AccountSession {
    Q_OBJECT

public:
    struct State {
        bool isSignedIn = false;
        bool isBusy = false;
        QString deviceLabel;
        PairingStep pairingStep = Unlinked;
        bool isPairingBusy = false;
        QString pairingError;
        QString linkedSince;
        QString sharedHistorySentence;
        QString confirmationDeadline;
        QString inviteCode;
        QString inviteExpiry;
        bool isPartnerDeciding = false;
        QString waitingDetail;
        QString earlierHistoryNote;
        QString storageNote;
        QString deletionNote;
        bool reminderOn = false;
        int reminderWeekday = 1;
        int reminderHour = 19;
        int reminderMinute = 0;
        QString reminderNote;
    };
    // Set before the window opens; later through `update`.
    State state;
    QStringList calls;

    // Changes the state as the view model would, publishing what changed.
    void update(const std::function<void(State&)>& change)
    {
        const State before = state;
        change(state);
        publishChange(this, before.isSignedIn, state.isSignedIn, &AccountSession::isSignedInChanged);
        publishChange(this, before.isBusy, state.isBusy, &AccountSession::isBusyChanged);
        publishChange(this, before.deviceLabel, state.deviceLabel, &AccountSession::deviceLabelChanged);
        publishChange(this, before.pairingStep, state.pairingStep, &AccountSession::pairingStepChanged);
        publishChange(this, before.isPairingBusy, state.isPairingBusy, &AccountSession::isPairingBusyChanged);
        publishChange(this, before.pairingError, state.pairingError, &AccountSession::pairingErrorChanged);
        publishChange(this, before.linkedSince, state.linkedSince, &AccountSession::linkedSinceChanged);
        publishChange(this, before.sharedHistorySentence, state.sharedHistorySentence,
            &AccountSession::sharedHistorySentenceChanged);
        publishChange(this, before.confirmationDeadline, state.confirmationDeadline,
            &AccountSession::confirmationDeadlineChanged);
        publishChange(this, before.inviteCode, state.inviteCode, &AccountSession::inviteCodeChanged);
        publishChange(this, before.inviteExpiry, state.inviteExpiry, &AccountSession::inviteExpiryChanged);
        publishChange(this, before.isPartnerDeciding, state.isPartnerDeciding,
            &AccountSession::isPartnerDecidingChanged);
        publishChange(this, before.waitingDetail, state.waitingDetail, &AccountSession::waitingDetailChanged);
        publishChange(this, before.earlierHistoryNote, state.earlierHistoryNote,
            &AccountSession::earlierHistoryNoteChanged);
        publishChange(this, before.storageNote, state.storageNote, &AccountSession::storageNoteChanged);
        publishChange(this, before.deletionNote, state.deletionNote, &AccountSession::deletionNoteChanged);
        publishChange(this, before.reminderOn, state.reminderOn, &AccountSession::reminderOnChanged);
        publishChange(
            this, before.reminderWeekday, state.reminderWeekday, &AccountSession::reminderWeekdayChanged);
        publishChange(this, before.reminderHour, state.reminderHour, &AccountSession::reminderHourChanged);
        publishChange(
            this, before.reminderMinute, state.reminderMinute, &AccountSession::reminderMinuteChanged);
        publishChange(this, before.reminderNote, state.reminderNote, &AccountSession::reminderNoteChanged);
    }

    bool isSignedIn() const override { return state.isSignedIn; }
    bool isBusy() const override { return state.isBusy; }
    QString deviceLabel() const override { return state.deviceLabel; }
    QString version() const override { return QStringLiteral("1.4"); }
    QString build() const override { return QStringLiteral("37"); }
    PairingStep pairingStep() const override { return state.pairingStep; }
    bool isPairingBusy() const override { return state.isPairingBusy; }
    QString pairingError() const override { return state.pairingError; }
    QString linkedSince() const override { return state.linkedSince; }
    QString sharedHistorySentence() const override { return state.sharedHistorySentence; }
    QString confirmationDeadline() const override { return state.confirmationDeadline; }
    QString inviteCode() const override { return state.inviteCode; }
    QString inviteExpiry() const override { return state.inviteExpiry; }
    bool isPartnerDeciding() const override { return state.isPartnerDeciding; }
    QString waitingDetail() const override { return state.waitingDetail; }
    QString earlierHistoryNote() const override { return state.earlierHistoryNote; }
    QString storageNote() const override { return state.storageNote; }
    QString deletionNote() const override { return state.deletionNote; }
    bool reminderOn() const override { return state.reminderOn; }
    int reminderWeekday() const override { return state.reminderWeekday; }
    int reminderHour() const override { return state.reminderHour; }
    int reminderMinute() const override { return state.reminderMinute; }
    QString reminderNote() const override { return state.reminderNote; }

    void signOut() override { calls.append(QStringLiteral("signOut")); }
    // Busy from the request on, as the view model is, until the test answers it.
    void deleteAccount() override
    {
        calls.append(QStringLiteral("deleteAccount"));
        update([](State& s) { s.isBusy = true; });
    }
    void refreshPairing() override { calls.append(QStringLiteral("refreshPairing")); }
    void createInvite() override { calls.append(QStringLiteral("createInvite")); }
    void redeem(const QString& code) override { calls.append(QStringLiteral("redeem ") + code); }
    void confirmPairing() override { calls.append(QStringLiteral("confirmPairing")); }
    void cancelConfirmation() override { calls.append(QStringLiteral("cancelConfirmation")); }
    void clearPairingError() override
    {
        update([](State& s) { s.pairingError.clear(); });
    }
    void dismissInvite() override { calls.append(QStringLiteral("dismissInvite")); }
    void unlink() override { calls.append(QStringLiteral("unlink")); }
    void setReminderOn(bool isOn) override
    {
        update([isOn](State& s) { s.reminderOn = isOn; });
    }
    void setReminderWeekday(int weekday) override
    {
        update([weekday](State& s) { s.reminderWeekday = weekday; });
    }
    void setReminderTime(int hour, int minute) override
    {
        update([hour, minute](State& s) {
            s.reminderHour = hour;
            s.reminderMinute = minute;
        });
    }
};

} // namespace lumora::testing
