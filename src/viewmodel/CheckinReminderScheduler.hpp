#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <qcoro/qcorotask.h>

namespace lumora {

// The answer to asking whether reminders may be shown.
enum class NotificationPermission {
    granted,
    // The desktop refused, or asking failed.
    refused,
    // Nothing on this desktop could show a notification: no notification server runs.
    noNotificationServer,
};

// The one pending desktop notification that reminds the couple of their weekly check-in.
// Implementations log their own failures and never throw; one without a way to notify does
// nothing and refuses permission.
class CheckinReminderScheduler {
public:
    // The identifier of the pending notification; at most one exists.
    static QString requestIdentifier() { return QStringLiteral("com.lumora.checkin-reminder"); }

    virtual ~CheckinReminderScheduler() = default;

    // Asks for permission to show alerts with sound.
    virtual QCoro::Task<NotificationPermission> requestPermission() = 0;
    // Replaces the pending notification with a one-shot one at `at`'s year, month, day, hour
    // and minute, read in `at`'s own time zone.
    virtual QCoro::Task<void> schedule(QDateTime at) = 0;
    // Removes the pending notification; none pending is no error.
    virtual QCoro::Task<void> removePending() = 0;

    // Called on the main thread when the pending notification's minute has passed, so that
    // the next one can be scheduled while the application keeps running. A scheduler whose
    // platform keeps the notification itself never calls it.
    void setPassedHandler(std::function<void()> handler) { m_passedHandler = std::move(handler); }

protected:
    void reportPassed() const
    {
        if (m_passedHandler)
            m_passedHandler();
    }

private:
    std::function<void()> m_passedHandler;
};

} // namespace lumora
