#include "app/reminders/DesktopReminderScheduler.hpp"

#include "PrivateKeyringSession.hpp"
#include "PrivateSessionBus.hpp"
#include "ViewModelFixture.hpp"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <qcoro/qcorotimer.h>

namespace lumora {
namespace {

using desktop::DesktopReminderScheduler;
using testing::PrivateKeyringSession;
using testing::PrivateSessionBus;
using testing::settle;
using testing::ViewModelHome;

const QString shownReminder = QStringLiteral(
    "Corvane: A good week for a check-in? | Ten minutes together, whenever you both have them.");
constexpr std::chrono::milliseconds tick(5);

// A notification server of the test's own, on its own connection to the bus: it owns the
// service name and notes each notification it is asked to show.
class NotificationServerStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit NotificationServerStandIn(PrivateSessionBus& bus)
        : m_bus(bus.connect(QStringLiteral("notification-stand-in")))
    {
    }
    ~NotificationServerStandIn() override { stop(); }

    bool start()
    {
        return m_bus.registerObject(path, this, QDBusConnection::ExportAllSlots)
            && m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    // Gives the name up; the bus has let it go when this returns.
    void stop()
    {
        m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        m_bus.unregisterObject(path);
    }

    QStringList shown;

public slots:
    uint Notify(const QString& application, uint, const QString&, const QString& summary, const QString& body,
        const QStringList&, const QVariantMap&, int)
    {
        shown.append(application + QStringLiteral(": ") + summary + QStringLiteral(" | ") + body);
        return uint(shown.size());
    }

private:
    static inline const QString path = QStringLiteral("/org/freedesktop/Notifications");
    QDBusConnection m_bus;
};

// A bus of the case's own with the stand-in server and the application's own connection: nothing
// else owns the notification service on it, none is started on demand, and no notification
// reaches the desktop the tests run on.
struct NotificationSession {
    PrivateSessionBus bus;
    NotificationServerStandIn server { bus };
    QDBusConnection application = bus.connect(QStringLiteral("application"));
};

void spin(std::chrono::milliseconds duration)
{
    test::awaitTask(QCoro::sleepFor(duration));
}

// Runs the event loop until `done` holds when it is expected to (a minute at most stands for a
// hang), and a little longer to see that nothing more happens.
template <typename Condition> void spinUntil(Condition done, bool expected)
{
    for (const QDeadlineTimer hang(60000); expected && !hang.hasExpired() && !done();)
        spin(tick);
    EXPECT_EQ(done(), expected);
    spin(tick * 20);
}

QDateTime berlin(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate)
        .toTimeZone(QTimeZone("Europe/Berlin"));
}

CheckinReminderSettings reminder(bool isOn, qint64 weekday)
{
    return CheckinReminderSettings(isOn, weekday, 19, 0);
}

struct DesktopReminderCase {
    const char* name;
    bool server;
    std::vector<CheckinReminderSettings> changes;
    // The notification server goes away after the first change.
    bool serverLeaves;
    // The pending minute after the changes, or nothing.
    const char* pending;
    std::optional<QString> note;
};

// Each row turns the reminder on and off through the view model, on a Tuesday in Berlin, and
// then lets the clock run to the pending minute.
TEST(DesktopReminderScheduler, KeepsOnePendingReminderAndShowsItAtItsMinute)
{
    const DesktopReminderCase cases[] {
        { "on schedules one reminder", true, { reminder(true, 1) }, false, "2026-03-29T19:00:00+02:00", {} },
        { "another day replaces it", true, { reminder(true, 1), reminder(true, 4) }, false,
            "2026-03-25T19:00:00+01:00", {} },
        { "off leaves nothing pending", true, { reminder(true, 1), reminder(false, 1) }, false, nullptr, {} },
        { "no notification server: refused, with the note that says so", false, { reminder(true, 1) }, false,
            nullptr, SessionViewModel::noNotificationServerNote() },
        { "a refusal takes the pending one away", true, { reminder(true, 1), reminder(true, 4) }, true,
            nullptr, SessionViewModel::noNotificationServerNote() },
    };
    for (const DesktopReminderCase& row : cases) {
        SCOPED_TRACE(row.name);
        NotificationSession session;
        ASSERT_TRUE(session.bus.isRunning());
        if (row.server) {
            ASSERT_TRUE(session.server.start());
        }
        ViewModelHome home;
        home.now = berlin("2026-03-24T10:00:00+01:00");
        const auto scheduler = std::make_shared<DesktopReminderScheduler>(
            *home.preferences, session.application, [&home] { return home.now; }, tick);
        SessionEnvironment environment = home.environment();
        environment.reminderScheduler = scheduler;
        SessionViewModel model(std::move(environment));
        settle(model);

        for (const CheckinReminderSettings& change : row.changes) {
            model.changeCheckinReminder(
                change.isOn, int(change.weekday), int(change.hour), int(change.minute));
            settle(model);
            if (row.serverLeaves)
                session.server.stop();
        }
        EXPECT_EQ(model.reminderNote(), row.note);
        // With nothing pending, the clock runs to the first reminder's minute.
        const QDateTime minute = berlin(row.pending ? row.pending : "2026-03-29T19:00:00+02:00");
        EXPECT_EQ(scheduler->pending(), row.pending ? std::optional(minute) : std::nullopt);
        EXPECT_EQ(
            home.preferences->contains(DesktopReminderScheduler::preferenceKey()), row.pending != nullptr);

        home.now = minute.addSecs(-1);
        spin(tick * 20);
        EXPECT_EQ(session.server.shown, QStringList());
        home.now = minute.addSecs(20);
        spinUntil([&] { return !session.server.shown.isEmpty(); }, row.pending != nullptr);
        EXPECT_EQ(session.server.shown, row.pending ? QStringList { shownReminder } : QStringList());
        // Shown once; while the application runs on, the next week's follows.
        settle(model);
        EXPECT_EQ(scheduler->pending(), row.pending ? std::optional(minute.addDays(7)) : std::nullopt);
    }
}

struct MissedReminderCase {
    const char* name;
    // The clock when the reminder is scheduled, and its date.
    const char* scheduledAt;
    const char* reminder;
    // The clock at the next start, or at waking when the same scheduler runs on.
    const char* later;
    bool restarts;
    bool shown;
};

TEST(DesktopReminderScheduler, AMinuteMissedWhileClosedOrAsleepIsShownOnceOnTheSameDayOnly)
{
    const MissedReminderCase cases[] {
        { "closed, started the same evening", "2026-03-29T12:00:00+02:00", "2026-03-29T19:00:00+02:00",
            "2026-03-29T23:59:00+02:00", true, true },
        { "closed, started the next morning", "2026-03-29T12:00:00+02:00", "2026-03-29T19:00:00+02:00",
            "2026-03-30T00:00:30+02:00", true, false },
        { "asleep, woken the same evening", "2026-03-29T12:00:00+02:00", "2026-03-29T19:00:00+02:00",
            "2026-03-29T21:00:00+02:00", false, true },
        { "asleep for a week", "2026-03-29T12:00:00+02:00", "2026-03-29T19:00:00+02:00",
            "2026-04-05T19:00:00+02:00", false, false },
        { "a minute already begun never fires", "2026-03-29T19:00:30+02:00", "2026-03-29T19:00:00+02:00",
            "2026-03-29T19:05:00+02:00", false, false },
        { "a repeated hour keeps its first occurrence", "2026-10-25T01:00:00+02:00",
            "2026-10-25T02:30:00+02:00", "2026-10-25T02:29:00+01:00", true, true },
    };
    for (const MissedReminderCase& row : cases) {
        SCOPED_TRACE(row.name);
        NotificationSession session;
        ASSERT_TRUE(session.bus.isRunning());
        ASSERT_TRUE(session.server.start());
        QTemporaryDir folder;
        QSettings preferences(folder.filePath(QStringLiteral("preferences.ini")), QSettings::IniFormat);
        QDateTime now = berlin(row.scheduledAt);
        const auto clock = [&now] { return now; };
        auto scheduler
            = std::make_unique<DesktopReminderScheduler>(preferences, session.application, clock, tick);
        test::awaitTask(scheduler->schedule(berlin(row.reminder)));
        if (row.restarts)
            scheduler.reset();
        now = berlin(row.later);
        if (row.restarts)
            scheduler
                = std::make_unique<DesktopReminderScheduler>(preferences, session.application, clock, tick);
        spinUntil([&] { return !session.server.shown.isEmpty(); }, row.shown);
        EXPECT_EQ(session.server.shown.size(), row.shown ? 1 : 0);
        EXPECT_EQ(scheduler->pending(), std::nullopt);

        // Never twice: not at a later start, not later that day.
        scheduler.reset();
        scheduler = std::make_unique<DesktopReminderScheduler>(preferences, session.application, clock, tick);
        now = now.addSecs(60);
        spin(tick * 20);
        EXPECT_EQ(session.server.shown.size(), row.shown ? 1 : 0);
    }
}

// The names a bus starts on demand, beside its own.
QStringList startedOnDemand(const QDBusConnection& bus)
{
    QStringList names = bus.interface()->activatableServiceNames();
    names.removeAll(QStringLiteral("org.freedesktop.DBus"));
    return names;
}

// A bus the tests make starts on demand only what the test provides: not the notification
// server a desktop starts on demand (which answers where a test expects none), nor the
// desktop's keyring, accessibility bus or settings service.
TEST(TestBuses, StartOnDemandOnlyWhatTheTestProvides)
{
    // The run's own session (scripts/with-test-session): nothing.
    if (qEnvironmentVariableIsSet("LUMORA_TEST_SESSION")) {
        const QString name = QStringLiteral("test-session");
        EXPECT_EQ(
            startedOnDemand(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)), QStringList());
        QDBusConnection::disconnectFromBus(name);
    }

    // A desktop whose user's folder has a notification server started on demand.
    QTemporaryDir desktop;
    ASSERT_TRUE(QDir(desktop.path()).mkpath(QStringLiteral("dbus-1/services")));
    QFile service(desktop.filePath(QStringLiteral("dbus-1/services/org.freedesktop.Notifications.service")));
    ASSERT_TRUE(service.open(QIODevice::WriteOnly));
    service.write("[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/true\n");
    service.close();
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", desktop.path().toUtf8());
    {
        NotificationSession session;
        ASSERT_TRUE(session.bus.isRunning());
        EXPECT_EQ(startedOnDemand(session.application), QStringList());
    }
    if (dataHome.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", dataHome);

    // A keyring's session: its prompter, to ask for the keyring's password, and nothing else.
    if (QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon")).isEmpty())
        return;
    PrivateKeyringSession keyring(PrivateKeyringSession::Keyring::unlocked);
    ASSERT_TRUE(keyring.started());
    const QString name = QStringLiteral("keyring-session");
    for (const QString& started : startedOnDemand(QDBusConnection::connectToBus(keyring.busAddress(), name)))
        EXPECT_TRUE(started.startsWith(u"org.gnome.keyring.") && started.endsWith(u"Prompter"))
            << started.toStdString();
    QDBusConnection::disconnectFromBus(name);
}

} // namespace
} // namespace lumora

#include "DesktopReminderSchedulerTest.moc"
