#include "AccountSession.hpp"

#include "PlainTextClipboard.hpp"

#include <QTimer>
#include <algorithm>

namespace lumora {

AccountSession::AccountSession(QObject* parent)
    : QObject(parent)
    , m_pairingRefresh(new QTimer(this))
{
    m_pairingRefresh->setInterval(pairingRefreshInterval);
    connect(m_pairingRefresh, &QTimer::timeout, this, [this] {
        if (pairingStep() == FreshCode || pairingStep() == Waiting)
            refreshPairing();
    });
}

void AccountSession::setPairingShown(bool shown)
{
    if (shown == m_pairingRefresh->isActive())
        return;
    if (!shown) {
        m_pairingRefresh->stop();
        return;
    }
    m_pairingRefresh->start();
    refreshPairing();
}

void AccountSession::setPairingRefreshInterval(std::chrono::milliseconds interval)
{
    m_pairingRefresh->setInterval(interval);
}

QString AccountSession::deviceLabelOf(const QUuid& deviceID)
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

bool AccountSession::copyInviteCode()
{
    return copyPlainText(inviteCode());
}

} // namespace lumora
