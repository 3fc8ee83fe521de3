#include "DesktopReminderScheduler.hpp"

#include "RemindersLog.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSettings>
#include <qcoro/qcorodbuspendingcall.h>

namespace lumora::desktop {

namespace {

const QString notificationService = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage busCall(const QString& method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), method);
}

// The start of the minute that `at` lies in, taken off in absolute time so that a wall-clock
// time that occurs twice keeps its own occurrence.
QDateTime minuteOf(const QDateTime& at)
{
    const QTime time = at.time();
    return at.addMSecs(-(qint64(time.second()) * 1000 + time.msec()));
}

} // namespace

DesktopReminderScheduler::DesktopReminderScheduler(QSettings& preferences, QDBusConnection bus,
    std::function<QDateTime()> clock, std::chrono::milliseconds longestWait)
    : m_preferences(preferences)
    , m_bus(std::move(bus))
    , m_clock(std::move(clock))
    , m_longestWait(longestWait)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &DesktopReminderScheduler::check);

    const QJsonDocument stored = QJsonDocument::fromJson(m_preferences.value(preferenceKey()).toByteArray());
    if (stored.isObject()) {
        JsonObjectReader reader(stored.object(), QStringLiteral("pending check-in reminder"));
        const QDateTime minute = reader.date(u"date");
        const QTimeZone zone(reader.string(u"timeZone").toUtf8());
        if (!reader.failed() && zone.isValid())
            m_pending = Pending { minute.toTimeZone(zone), zone };
    }
    if (!m_pending && m_preferences.contains(preferenceKey()))
        m_preferences.remove(preferenceKey());
    check();
}

DesktopReminderScheduler::~DesktopReminderScheduler() = default;

QCoro::Task<NotificationPermission> DesktopReminderScheduler::requestPermission()
{
    if (!m_bus.isConnected())
        co_return NotificationPermission::noNotificationServer;
    // A server that the bus starts on the first notification counts as much as a running one.
    QDBusMessage owner = busCall(QStringLiteral("NameHasOwner"));
    owner << notificationService;
    const QDBusPendingCall ownerCall = m_bus.asyncCall(owner);
    const QDBusPendingCall activatableCall = m_bus.asyncCall(busCall(QStringLiteral("ListActivatableNames")));
    const QDBusMessage ownerReply = co_await ownerCall;
    const QDBusMessage activatableReply = co_await activatableCall;
    const bool running = ownerReply.type() == QDBusMessage::ReplyMessage && !ownerReply.arguments().isEmpty()
        && ownerReply.arguments().constFirst().toBool();
    const bool startable = activatableReply.type() == QDBusMessage::ReplyMessage
        && !activatableReply.arguments().isEmpty()
        && activatableReply.arguments().constFirst().toStringList().contains(notificationService);
    if (ownerReply.type() == QDBusMessage::ErrorMessage) {
        qCInfo(reminderLog, "Notification permission was not granted.");
        co_return NotificationPermission::refused;
    }
    co_return running || startable ? NotificationPermission::granted
                                   : NotificationPermission::noNotificationServer;
}

QCoro::Task<void> DesktopReminderScheduler::schedule(QDateTime at)
{
    const QDateTime minute = minuteOf(at);
    if (!minute.isValid() || minute <= m_clock())
        setPending(std::nullopt);
    else
        setPending(Pending { minute, at.timeZone() });
    co_return;
}

QCoro::Task<void> DesktopReminderScheduler::removePending()
{
    setPending(std::nullopt);
    co_return;
}

std::optional<QDateTime> DesktopReminderScheduler::pending() const
{
    if (!m_pending)
        return std::nullopt;
    return m_pending->minute;
}

void DesktopReminderScheduler::setPending(std::optional<Pending> pending)
{
    m_pending = std::move(pending);
    if (m_pending) {
        const QJsonObject entry {
            { QStringLiteral("date"), isoDateText(m_pending->minute) },
            { QStringLiteral("timeZone"), QString::fromUtf8(m_pending->zone.id()) },
        };
        m_preferences.setValue(preferenceKey(), QJsonDocument(entry).toJson(QJsonDocument::Compact));
    } else {
        m_preferences.remove(preferenceKey());
    }
    m_preferences.sync();
    if (m_preferences.status() != QSettings::NoError)
        qCInfo(reminderLog, "The check-in reminder could not be scheduled.");
    check();
}

void DesktopReminderScheduler::check()
{
    m_timer.stop();
    if (!m_pending)
        return;
    const QDateTime now = m_clock();
    const qint64 wait = now.msecsTo(m_pending->minute);
    if (wait > 0) {
        m_timer.start(std::min(std::chrono::milliseconds(wait), m_longestWait));
        return;
    }
    // Taken off before it is shown, so that it is never shown twice.
    const bool sameDay
        = now.toTimeZone(m_pending->zone).date() == m_pending->minute.toTimeZone(m_pending->zone).date();
    setPending(std::nullopt);
    if (sameDay)
        show();
    else
        qCInfo(reminderLog, "The check-in reminder's day passed while it could not be shown.");
    reportPassed();
}

void DesktopReminderScheduler::show()
{
    QDBusMessage notify = QDBusMessage::createMethodCall(notificationService,
        QStringLiteral("/org/freedesktop/Notifications"), notificationService, QStringLiteral("Notify"));
    const QVariantMap hints {
        { QStringLiteral("desktop-entry"), QStringLiteral("lumora") },
        { QStringLiteral("sound-name"), QStringLiteral("message-new-instant") },
    };
    notify << QStringLiteral("Corvane") << 0u << QStringLiteral("lumora") << title() << body()
           << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher* call) {
        if (call->isError())
            qCInfo(reminderLog, "The check-in reminder could not be shown.");
        call->deleteLater();
    });
}

} // namespace lumora::desktop
