#pragma once

#include "viewmodel/CheckinReminderScheduler.hpp"

#include <QDBusConnection>
#include <QDateTime>
#include <QObject>
#include <QTimeZone>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

class QSettings;

namespace lumora::desktop {

// The weekly check-in reminder on the desktop. The desktop's notification server
// (org.freedesktop.Notifications on the session bus) can only show a notification now, so
// this scheduler keeps the one pending reminder itself: its date is stored in the
// preferences, so that a restart keeps it, and it is shown when its local wall-clock minute
// arrives. The wall clock is read afresh at every check, at most `longestWait` apart, rather
// than trusting one long timer, whose time stands still while the computer sleeps. A minute
// that passed while the application was closed or the computer slept is shown once at the
// next start or wake on the same day, and dropped on a later day.
class DesktopReminderScheduler final : public QObject, public lumora::CheckinReminderScheduler {
    Q_OBJECT

public:
    static QString title() { return QStringLiteral("A good week for a check-in?"); }
    static QString body() { return QStringLiteral("Ten minutes together, whenever you both have them."); }
    // The preference entry that holds the pending reminder.
    static QString preferenceKey() { return QStringLiteral("lumora.checkinReminder.pending"); }

    // `preferences` must outlive the scheduler. Checks at once for a reminder left pending by
    // an earlier run.
    DesktopReminderScheduler(QSettings& preferences, QDBusConnection bus,
        std::function<QDateTime()> clock = &QDateTime::currentDateTimeUtc,
        std::chrono::milliseconds longestWait = std::chrono::seconds(30));
    ~DesktopReminderScheduler() override;

    // Granted while a notification server owns its name on the bus or can be started by it.
    QCoro::Task<NotificationPermission> requestPermission() override;
    // Keeps one reminder for `at`'s minute in `at`'s time zone, replacing any pending one. A
    // minute that has already begun is never shown: nothing stays pending.
    QCoro::Task<void> schedule(QDateTime at) override;
    QCoro::Task<void> removePending() override;

    // The minute of the pending reminder, in the zone it was scheduled in.
    [[nodiscard]] std::optional<QDateTime> pending() const;

private:
    struct Pending {
        QDateTime minute;
        QTimeZone zone;
    };

    // Shows the pending reminder when its minute has come, drops it when its day has passed,
    // and otherwise waits for the next check.
    void check();
    void setPending(std::optional<Pending> pending);
    void show();

    QSettings& m_preferences;
    QDBusConnection m_bus;
    std::function<QDateTime()> m_clock;
    std::chrono::milliseconds m_longestWait;
    std::optional<Pending> m_pending;
    QTimer m_timer;
};

} // namespace lumora::desktop
