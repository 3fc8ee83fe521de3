#include "AccountSession.hpp"

#include "PairingStep.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>
#include <algorithm>

namespace lumora {

AccountSession::AccountSession(SessionViewModel& viewModel, PairingTexts texts, QObject* parent)
    : QObject(parent)
    , m_viewModel(viewModel)
    , m_texts(std::move(texts))
{
    for (const auto signal : { &SessionViewModel::accountChanged, &SessionViewModel::isBusyChanged,
             &SessionViewModel::pairingChanged, &SessionViewModel::pairingInviteChanged,
             &SessionViewModel::pairingRedemptionChanged, &SessionViewModel::pairingErrorChanged,
             &SessionViewModel::isPairingBusyChanged, &SessionViewModel::checkinReminderChanged,
             &SessionViewModel::reminderNoteChanged })
        connect(&m_viewModel, signal, this, &AccountSession::changed);
}

QString AccountSession::deviceLabel(const QUuid& deviceID)
{
    return QStringLiteral("This computer \u00b7 ")
        + deviceID.toString(QUuid::WithoutBraces).left(8).toLower();
}

CheckinReminderSettings AccountSession::switched(const CheckinReminderSettings& current, bool isOn)
{
    return { isOn, current.weekday, current.hour, current.minute };
}

CheckinReminderSettings AccountSession::onWeekday(const CheckinReminderSettings& current, int weekday)
{
    return { true, weekday, current.hour, current.minute };
}

CheckinReminderSettings AccountSession::atTime(const CheckinReminderSettings& current, int hour, int minute)
{
    return { true, current.weekday, hour, minute };
}

bool AccountSession::isCodeEntered(const QString& draft)
{
    return std::ranges::any_of(
        draft, [](QChar character) { return character != u' ' && character != u'\t'; });
}

QStringList AccountSession::weekdayNames()
{
    return { QStringLiteral("Sunday"), QStringLiteral("Monday"), QStringLiteral("Tuesday"),
        QStringLiteral("Wednesday"), QStringLiteral("Thursday"), QStringLiteral("Friday"),
        QStringLiteral("Saturday") };
}

bool AccountSession::isSignedIn() const
{
    return m_viewModel.isSignedIn();
}
bool AccountSession::isBusy() const
{
    return m_viewModel.isBusy();
}
QString AccountSession::deviceLabel() const
{
    return m_viewModel.account() ? deviceLabel(m_viewModel.account()->deviceID) : QString();
}
QString AccountSession::version() const
{
    return m_viewModel.info().string(InfoResource::shortVersionKey).value_or(QStringLiteral("Development"));
}
QString AccountSession::build() const
{
    return m_viewModel.info().string(InfoResource::buildVersionKey).value_or(QStringLiteral("Local"));
}

QString AccountSession::pairingStep() const
{
    return pairingStepName(choosePairingStep(
        m_viewModel.pairing(), m_viewModel.pairingRedemption(), m_viewModel.pairingInvite()));
}
bool AccountSession::isPairingBusy() const
{
    return m_viewModel.isPairingBusy();
}
QString AccountSession::pairingError() const
{
    return m_viewModel.pairingError().value_or(QString());
}
QString AccountSession::linkedSince() const
{
    return m_viewModel.pairing() ? m_texts.linkedSince(m_viewModel.pairing()->workspace) : QString();
}
QString AccountSession::sharedHistorySentence() const
{
    const auto& redemption = m_viewModel.pairingRedemption();
    return redemption ? m_texts.sharedHistorySentence(redemption->history) : QString();
}
QString AccountSession::confirmationDeadline() const
{
    const auto& redemption = m_viewModel.pairingRedemption();
    if (!redemption)
        return {};
    return QStringLiteral("Decide by ") + m_texts.dates().time(redemption->confirmExpiresAt)
        + QStringLiteral(". After that, ask for a new code.");
}
QString AccountSession::inviteCode() const
{
    const auto& invite = m_viewModel.pairingInvite();
    return invite ? invite->code : QString();
}
QString AccountSession::inviteCodeAccessibleName() const
{
    return PairingTexts::codeAccessibleName(inviteCode());
}
QString AccountSession::inviteExpiry() const
{
    const auto& invite = m_viewModel.pairingInvite();
    if (!invite)
        return {};
    return QStringLiteral("The code works once, and it expires ")
        + m_texts.dates().dateAndTime(invite->expiresAt)
        + QStringLiteral(". This is the only time it is shown. If you lose it, make a new one.");
}
bool AccountSession::isPartnerDeciding() const
{
    const auto& pairing = m_viewModel.pairing();
    return pairing && pairing->pendingInvite && pairing->pendingInvite->isBeingConsidered();
}
QString AccountSession::waitingDetail() const
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
QString AccountSession::earlierHistoryNote() const
{
    return PairingTexts::earlierHistoryNote(m_viewModel.pairing()).value_or(QString());
}

bool AccountSession::reminderOn() const
{
    return m_viewModel.checkinReminder().isOn;
}
int AccountSession::reminderWeekday() const
{
    return int(m_viewModel.checkinReminder().weekday);
}
int AccountSession::reminderHour() const
{
    return int(m_viewModel.checkinReminder().hour);
}
int AccountSession::reminderMinute() const
{
    return int(m_viewModel.checkinReminder().minute);
}
QString AccountSession::reminderNote() const
{
    return m_viewModel.reminderNote().value_or(QString());
}

void AccountSession::signOut()
{
    m_viewModel.requestSignOut();
}
void AccountSession::deleteAccount()
{
    m_viewModel.requestAccountDeletion();
}

void AccountSession::refreshPairing()
{
    m_viewModel.requestPairingState();
}
void AccountSession::createInvite()
{
    m_viewModel.requestPairingInvite();
}
void AccountSession::redeem(const QString& code)
{
    redeemThenReport(code);
}
QCoro::Task<void> AccountSession::redeemThenReport(QString code)
{
    const QPointer<AccountSession> self(this);
    co_await m_viewModel.redeemPairingCode(std::move(code));
    if (self)
        emit redeemFinished(m_viewModel.pairingRedemption().has_value());
}
void AccountSession::confirmPairing()
{
    m_viewModel.requestPairingConfirmation();
}
void AccountSession::cancelConfirmation()
{
    m_viewModel.setPairingRedemption(std::nullopt);
    clearPairingError();
}
void AccountSession::clearPairingError()
{
    m_viewModel.setPairingError(std::nullopt);
}
void AccountSession::dismissInvite()
{
    m_viewModel.setPairingInvite(std::nullopt);
}
void AccountSession::unlink()
{
    unlinkThenSynchronize();
}
QCoro::Task<void> AccountSession::unlinkThenSynchronize()
{
    co_await m_viewModel.unlinkPartner();
    co_await m_viewModel.synchronizeHistory(true);
}
bool AccountSession::copyInviteCode()
{
    const QString code = inviteCode();
    if (code.isEmpty())
        return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(code);
    return true;
}

void AccountSession::setReminderOn(bool isOn)
{
    requestReminder(switched(m_viewModel.checkinReminder(), isOn));
}
void AccountSession::setReminderWeekday(int weekday)
{
    requestReminder(onWeekday(m_viewModel.checkinReminder(), weekday));
}
void AccountSession::setReminderTime(int hour, int minute)
{
    requestReminder(atTime(m_viewModel.checkinReminder(), hour, minute));
}
void AccountSession::requestReminder(const CheckinReminderSettings& settings)
{
    m_viewModel.changeCheckinReminder(
        settings.isOn, int(settings.weekday), int(settings.hour), int(settings.minute));
}

} // namespace lumora
