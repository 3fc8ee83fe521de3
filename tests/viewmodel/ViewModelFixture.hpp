#pragma once

#include "TestKeyStore.hpp"
#include "domain/CheckinReminderSettings.hpp"
#include "viewmodel/CheckinReminderScheduler.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <qcoro/qcorotimer.h>

namespace lumora::testing {

// Holds the calls of a fake until the test opens it; they look again at each turn of the
// event loop.
class Gate {
public:
    bool isOpen = true;
    int waiting = 0;

    QCoro::Task<void> pass()
    {
        if (isOpen)
            co_return;
        ++waiting;
        while (!isOpen)
            co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    }
    void close() { isOpen = false; }
    void open() { isOpen = true; }
};

// Notes each call as "permission", "schedule <ISO date with offset>" or "remove"; permission
// answers after a turn of the event loop, as a desktop prompt does, and not before the test
// opens `permission`.
class FakeReminderScheduler final : public CheckinReminderScheduler {
public:
    bool grants = true;
    // Without a notification server nothing is asked: there is no one to ask.
    bool serverRunning = true;
    Gate permission;
    QStringList calls;

    QCoro::Task<NotificationPermission> requestPermission() override
    {
        calls.append(QStringLiteral("permission"));
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        co_await permission.pass();
        if (!serverRunning)
            co_return NotificationPermission::noNotificationServer;
        co_return grants ? NotificationPermission::granted : NotificationPermission::refused;
    }
    QCoro::Task<void> schedule(QDateTime at) override
    {
        calls.append(QStringLiteral("schedule ") + at.toString(Qt::ISODate));
        co_return;
    }
    QCoro::Task<void> removePending() override
    {
        calls.append(QStringLiteral("remove"));
        co_return;
    }
};

// Waits until every operation the view model started has ended (start-up included). The proof
// is the moment the count comes to nothing, not the count read afterwards: a page that refreshes
// by itself may start its next refresh in the same turn of the event loop, and on a loaded
// machine, where its timer is overdue, it often does.
inline void settle(SessionViewModel& viewModel)
{
    bool settled = viewModel.runningOperations() == 0;
    if (!settled) {
        QEventLoop loop;
        QObject::connect(&viewModel, &SessionViewModel::operationsSettled, &loop, [&] {
            settled = true;
            loop.quit();
        });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    ASSERT_TRUE(settled) << "an operation did not end";
}

// Turns the event loop until the condition holds or the time is up, looking again every 20 ms;
// whether it holds.
inline bool turnUntil(const std::function<bool()>& condition, std::chrono::milliseconds time)
{
    const QDeadlineTimer deadline(time);
    while (!condition() && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(std::chrono::milliseconds(std::min<qint64>(20, deadline.remainingTime())), &loop,
            &QEventLoop::quit);
        loop.exec();
    }
    return condition();
}

// One user's computer for a view model: preferences, keychain, data and temporary folders, a
// fixed clock and time zone, and the compiled-in values a test chooses.
struct ViewModelHome {
    ViewModelHome() { EXPECT_TRUE(folder.isValid()); }

    QString path(const QString& name) const { return folder.filePath(name); }

    SessionEnvironment environment(const QStringList& arguments = {}) const
    {
        SessionEnvironment environment;
        environment.arguments = QStringList { QStringLiteral("lumora") } + arguments;
        environment.info = InfoResource(info);
        environment.preferences = preferences.get();
        environment.keychain = [keychain = keychain] { return keychain; };
        environment.applicationSupport = [support = applicationSupport] { return support; };
        environment.temporaryRoot = temporaryRoot;
        environment.clock = [clock = &now] { return *clock; };
        environment.timeZone = zone;
        environment.reminderScheduler = scheduler;
        return environment;
    }

    // A view model whose start-up has ended.
    std::unique_ptr<SessionViewModel> viewModel(const QStringList& arguments = {}) const
    {
        auto model = std::make_unique<SessionViewModel>(environment(arguments));
        settle(*model);
        return model;
    }

    // Makes `name` a plain file, so that no folder can be made there.
    void block(const QString& name) const
    {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    }

    QTemporaryDir folder;
    std::unique_ptr<QSettings> preferences = std::make_unique<QSettings>(
        folder.filePath(QStringLiteral("preferences.ini")), QSettings::IniFormat);
    std::shared_ptr<test::TestKeyStore> keychain = std::make_shared<test::TestKeyStore>();
    std::shared_ptr<FakeReminderScheduler> scheduler = std::make_shared<FakeReminderScheduler>();
    // No control plane unless a test names one: with one, the start-up would try to recover
    // this device's registration from it.
    QJsonObject info { { "CFBundleShortVersionString", "1.4" }, { "CFBundleVersion", "37" } };
    QString applicationSupport = folder.filePath(QStringLiteral("data"));
    QString temporaryRoot = folder.filePath(QStringLiteral("tmp/Lumora-Conversation"));
    QTimeZone zone { "Europe/Berlin" };
    QDateTime now = QDateTime::currentDateTimeUtc();
};

} // namespace lumora::testing
