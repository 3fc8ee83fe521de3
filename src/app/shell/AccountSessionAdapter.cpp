#include "AccountSessionAdapter.hpp"

#include "PairingStep.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QPointer>
#include <algorithm>

namespace lumora {

AccountSessionAdapter::AccountSessionAdapter(SessionViewModel& viewModel, PairingTexts texts, QObject* parent)
    : AccountSession(parent)
    , m_viewModel(viewModel)
    , m_texts(std::move(texts))
{
    const auto forward = [this](void (SessionViewModel::*published)(), auto... changed) {
        (connect(&m_viewModel, published, this, changed), ...);
    };
    forward(&SessionViewModel::accountChanged, &AccountSession::isSignedInChanged,
        &AccountSession::deviceLabelChanged);
    forward(&SessionViewModel::isBusyChanged, &AccountSession::isBusyChanged);
    forward(&SessionViewModel::pairingChanged, &AccountSession::pairingStepChanged,
        &AccountSession::linkedSinceChanged, &AccountSession::isPartnerDecidingChanged,
        &AccountSession::waitingDetailChanged, &AccountSession::earlierHistoryNoteChanged);
    forward(&SessionViewModel::pairingInviteChanged, &AccountSession::pairingStepChanged,
        &AccountSession::inviteCodeChanged, &AccountSession::inviteExpiryChanged);
    forward(&SessionViewModel::pairingRedemptionChanged, &AccountSession::pairingStepChanged,
        &AccountSession::sharedHistorySentenceChanged, &AccountSession::confirmationDeadlineChanged);
    forward(&SessionViewModel::pairingErrorChanged, &AccountSession::pairingErrorChanged);
    forward(&SessionViewModel::isPairingBusyChanged, &AccountSession::isPairingBusyChanged);
    forward(&SessionViewModel::checkinReminderChanged, &AccountSession::reminderOnChanged,
        &AccountSession::reminderWeekdayChanged, &AccountSession::reminderHourChanged,
        &AccountSession::reminderMinuteChanged);
    forward(&SessionViewModel::reminderNoteChanged, &AccountSession::reminderNoteChanged);
    forward(&SessionViewModel::historyEntriesChanged, &AccountSession::storageNoteChanged);
    forward(&SessionViewModel::errorMessageChanged, &AccountSession::deletionNoteChanged);
}

bool AccountSessionAdapter::isSignedIn() const
{
    return m_viewModel.isSignedIn();
}
bool AccountSessionAdapter::isBusy() const
{
    return m_viewModel.isBusy();
}
QString AccountSessionAdapter::deviceLabel() const
{
    return m_viewModel.account() ? deviceLabelOf(m_viewModel.account()->deviceID) : QString();
}
QString AccountSessionAdapter::version() const
{
    return m_viewModel.info().string(InfoResource::shortVersionKey).value_or(QStringLiteral("Development"));
}
QString AccountSessionAdapter::build() const
{
    return m_viewModel.info().string(InfoResource::buildVersionKey).value_or(QStringLiteral("Local"));
}

AccountSession::PairingStep AccountSessionAdapter::pairingStep() const
{
    return choosePairingStep(
        m_viewModel.pairing(), m_viewModel.pairingRedemption(), m_viewModel.pairingInvite());
}
bool AccountSessionAdapter::isPairingBusy() const
{
    return m_viewModel.isPairingBusy();
}
QString AccountSessionAdapter::pairingError() const
{
    return m_viewModel.pairingError().value_or(QString());
}
QString AccountSessionAdapter::linkedSince() const
{
    return m_viewModel.pairing() ? m_texts.linkedSince(m_viewModel.pairing()->workspace) : QString();
}
QString AccountSessionAdapter::sharedHistorySentence() const
{
    const auto& redemption = m_viewModel.pairingRedemption();
    return redemption ? m_texts.sharedHistorySentence(redemption->history) : QString();
}
QString AccountSessionAdapter::confirmationDeadline() const
{
    const auto& redemption = m_viewModel.pairingRedemption();
    if (!redemption)
        return {};
    return QStringLiteral("Decide by ") + m_texts.dates().time(redemption->confirmExpiresAt)
        + QStringLiteral(". After that, ask for a new code.");
}
QString AccountSessionAdapter::inviteCode() const
{
    const auto& invite = m_viewModel.pairingInvite();
    return invite ? invite->code : QString();
}
QString AccountSessionAdapter::inviteExpiry() const
{
    const auto& invite = m_viewModel.pairingInvite();
    if (!invite)
        return {};
    return QStringLiteral("The code works once, and it expires ")
        + m_texts.dates().dateAndTime(invite->expiresAt)
        + QStringLiteral(". This is the only time it is shown. If you lose it, make a new one.");
}
bool AccountSessionAdapter::isPartnerDeciding() const
{
    const auto& pairing = m_viewModel.pairing();
    return pairing && pairing->pendingInvite && pairing->pendingInvite->isBeingConsidered();
}
QString AccountSessionAdapter::waitingDetail() const
{
    const auto& pairing = m_viewModel.pairing();
    if (!pairing || !pairing->pendingInvite)
        return {};
    if (pairing->pendingInvite->isBeingConsidered())
        return QStringLiteral("Your partner has entered the code and is looking at what joining shares. You "
                              "will see the link here once they agree.");
    return QStringLiteral("Your code is good until ")
        + m_texts.dates().dateAndTime(pairing->pendingInvite->expiresAt)
        + QStringLiteral(
            ". Ask your partner to open Corvane, go to Account, and choose \u201cI have a code\u201d.");
}
QString AccountSessionAdapter::storageNote() const
{
    const QList<ConversationHistoryEntry>& entries = m_viewModel.historyEntries();
    if (std::ranges::none_of(entries, &ConversationHistoryEntry::waitsForRoom))
        return {};
    return QStringLiteral(
        "Your account\u2019s storage is full, so new conversations stay on this computer. "
        "Only conversations recorded with this account count towards it, not your "
        "partner\u2019s or those a former partner left you: deleting ones you no longer need "
        "from History makes room, and the waiting ones are sent then.");
}
QString AccountSessionAdapter::earlierHistoryNote() const
{
    return PairingTexts::earlierHistoryNote(m_viewModel.pairing()).value_or(QString());
}

bool AccountSessionAdapter::reminderOn() const
{
    return m_viewModel.checkinReminder().isOn;
}
int AccountSessionAdapter::reminderWeekday() const
{
    return int(m_viewModel.checkinReminder().weekday);
}
int AccountSessionAdapter::reminderHour() const
{
    return int(m_viewModel.checkinReminder().hour);
}
int AccountSessionAdapter::reminderMinute() const
{
    return int(m_viewModel.checkinReminder().minute);
}
QString AccountSessionAdapter::deletionNote() const
{
    const QString error = m_viewModel.errorMessage().value_or(QString());
    const bool aboutTheDeletion = error == SessionViewModel::accountNotDeletedMessage()
        || error == SessionViewModel::accountDeletionUnconfirmedMessage()
        || error == SessionViewModel::accountPartlyWipedMessage();
    return aboutTheDeletion ? error : QString();
}
QString AccountSessionAdapter::reminderNote() const
{
    return m_viewModel.reminderNote().value_or(QString());
}

void AccountSessionAdapter::signOut()
{
    m_viewModel.requestSignOut();
}
void AccountSessionAdapter::deleteAccount()
{
    m_viewModel.requestAccountDeletion();
}

void AccountSessionAdapter::refreshPairing()
{
    m_viewModel.requestPairingState();
}
void AccountSessionAdapter::createInvite()
{
    m_viewModel.requestPairingInvite();
}
void AccountSessionAdapter::redeem(const QString& code)
{
    redeemThenReport(code);
}
QCoro::Task<void> AccountSessionAdapter::redeemThenReport(QString code)
{
    const QPointer<AccountSession> self(this);
    co_await m_viewModel.redeemPairingCode(std::move(code));
    if (self)
        emit redeemFinished(m_viewModel.pairingRedemption().has_value());
}
void AccountSessionAdapter::confirmPairing()
{
    m_viewModel.requestPairingConfirmation();
}
void AccountSessionAdapter::cancelConfirmation()
{
    m_viewModel.setPairingRedemption(std::nullopt);
    clearPairingError();
}
void AccountSessionAdapter::clearPairingError()
{
    m_viewModel.setPairingError(std::nullopt);
}
void AccountSessionAdapter::dismissInvite()
{
    m_viewModel.setPairingInvite(std::nullopt);
}
void AccountSessionAdapter::unlink()
{
    unlinkThenSynchronize();
}
QCoro::Task<void> AccountSessionAdapter::unlinkThenSynchronize()
{
    co_await m_viewModel.unlinkPartner();
    co_await m_viewModel.synchronizeHistory(true);
}
void AccountSessionAdapter::setReminderOn(bool isOn)
{
    requestReminder(switched(m_viewModel.checkinReminder(), isOn));
}
void AccountSessionAdapter::setReminderWeekday(int weekday)
{
    requestReminder(onWeekday(m_viewModel.checkinReminder(), weekday));
}
void AccountSessionAdapter::setReminderTime(int hour, int minute)
{
    requestReminder(atTime(m_viewModel.checkinReminder(), hour, minute));
}
void AccountSessionAdapter::requestReminder(const CheckinReminderSettings& settings)
{
    m_viewModel.changeCheckinReminder(
        settings.isOn, int(settings.weekday), int(settings.hour), int(settings.minute));
}

} // namespace lumora
