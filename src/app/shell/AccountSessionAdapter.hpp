#pragma once

#include "AccountSession.hpp"
#include "PairingTexts.hpp"

#include <qcoro/qcorotask.h>

namespace lumora {

class SessionViewModel;

// The account page's session over the session view model: each change of the view model's
// account, pairing or reminder state raises the signals of the properties made from it.
class AccountSessionAdapter final : public AccountSession {
    Q_OBJECT

public:
    AccountSessionAdapter(SessionViewModel& viewModel, PairingTexts texts, QObject* parent = nullptr);

    [[nodiscard]] bool isSignedIn() const override;
    [[nodiscard]] bool isBusy() const override;
    [[nodiscard]] QString deviceLabel() const override;
    [[nodiscard]] QString version() const override;
    [[nodiscard]] QString build() const override;

    [[nodiscard]] PairingStep pairingStep() const override;
    [[nodiscard]] bool isPairingBusy() const override;
    [[nodiscard]] QString pairingError() const override;
    [[nodiscard]] QString linkedSince() const override;
    [[nodiscard]] QString sharedHistorySentence() const override;
    [[nodiscard]] QString confirmationDeadline() const override;
    [[nodiscard]] QString inviteCode() const override;
    [[nodiscard]] QString inviteExpiry() const override;
    [[nodiscard]] bool isPartnerDeciding() const override;
    [[nodiscard]] QString waitingDetail() const override;
    [[nodiscard]] QString earlierHistoryNote() const override;
    [[nodiscard]] QString storageNote() const override;
    [[nodiscard]] QString deletionNote() const override;

    [[nodiscard]] bool reminderOn() const override;
    [[nodiscard]] int reminderWeekday() const override;
    [[nodiscard]] int reminderHour() const override;
    [[nodiscard]] int reminderMinute() const override;
    [[nodiscard]] QString reminderNote() const override;

    void signOut() override;
    void deleteAccount() override;
    void refreshPairing() override;
    void createInvite() override;
    void redeem(const QString& code) override;
    void confirmPairing() override;
    void cancelConfirmation() override;
    void clearPairingError() override;
    void dismissInvite() override;
    void unlink() override;
    void setReminderOn(bool isOn) override;
    void setReminderWeekday(int weekday) override;
    void setReminderTime(int hour, int minute) override;

private:
    QCoro::Task<void> redeemThenReport(QString code);
    QCoro::Task<void> unlinkThenSynchronize();
    void requestReminder(const CheckinReminderSettings& settings);

    SessionViewModel& m_viewModel;
    PairingTexts m_texts;
};

} // namespace lumora
