#include "CorvaneApp.hpp"

#include "AppLog.hpp"
#include "ProcessSignals.hpp"
#include "SecureUpdateController.hpp"
#include "SingleInstance.hpp"
#include "WindowSizing.hpp"
#include "memory/HeapRelease.hpp"
#include "persistence/PrivateFiles.hpp"
#include "reminders/DesktopReminderScheduler.hpp"
#include "shell/ShellSessionAdapter.hpp"
#include "theme/FontRegistrar.hpp"
#include "theme/MotionPreference.hpp"
#include "viewmodel/InfoResource.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QDBusConnection>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QQuickWindow>
#include <QScreen>
#include <QTimer>
#include <csignal>

namespace lumora {

CorvaneApp::CorvaneApp(QGuiApplication& application, QStringList arguments, InfoResource info)
    : m_application(application)
    , m_arguments(std::move(arguments))
    , m_info(std::move(info))
{
    m_preferences = std::make_unique<QSettings>();
    // The partners' names live there: the owner's alone, before anything is written.
    if (const auto restricted = privatefiles::makeOwnerOnly(m_preferences->fileName()); !restricted)
        qCWarning(appLog, "The preferences file could not be made private: %s",
            qUtf8Printable(restricted.error().reason));
    m_updates = SecureUpdateController::fromInfo(m_info, m_preferences.get(), this);
    FontRegistrar::registerBundledFonts();
    // SIGTERM (a logout) and SIGINT end the run at once, the conversation with it: a quit would
    // ask the window to close, which asks the user first during a conversation.
    m_signals = std::make_unique<ProcessSignals>(QList<int> { SIGTERM, SIGINT });
    m_quitOnSignal = connect(
        m_signals.get(), &ProcessSignals::received, &m_application, [] { QCoreApplication::exit(0); });
    // However the run ends (the menu, the window closed, a signal at logout), a conversation is
    // given up before the clean end is recorded.
    connect(&m_application, &QCoreApplication::aboutToQuit, this, &CorvaneApp::giveUpConversation);
    connect(&m_application, &QCoreApplication::aboutToQuit, this, &CorvaneApp::recordCleanTermination);
}

CorvaneApp::~CorvaneApp()
{
    // The window goes before the objects it reads.
    m_engine.reset();
}

bool CorvaneApp::start(const std::function<void(SessionEnvironment&)>& adjustEnvironment)
{
    // The reminder left pending by the last run is looked at before the view model reschedules.
    auto reminders
        = std::make_shared<desktop::DesktopReminderScheduler>(*m_preferences, QDBusConnection::sessionBus());
    SessionEnvironment environment = SessionEnvironment::standard(*m_preferences, std::move(reminders));
    environment.arguments = m_arguments;
    environment.info = m_info;
    if (adjustEnvironment)
        adjustEnvironment(environment);
    const InfoResource& info = m_info;
    m_viewModel = std::make_unique<SessionViewModel>(std::move(environment));
    m_session = std::make_unique<ShellSessionAdapter>(*m_viewModel, &QDateTime::currentDateTimeUtc);
    // The user's answer to quitting during a conversation ends the run without asking again.
    connect(m_session.get(), &ShellSession::quitRequested, &m_application, [] { QCoreApplication::exit(0); });
    // What a finished conversation freed goes back to the system instead of staying with the
    // process until it ends; so does what the start freed (the stores' reading on the pool, the
    // first frame's shader builds) once both are over.
    m_heapRelease = new HeapRelease(HeapRelease::defaultDelay, &HeapRelease::returnFreedHeap, this);
    connect(m_viewModel.get(), &SessionViewModel::conversationFinished, m_heapRelease, &HeapRelease::request);
    connect(m_viewModel.get(), &SessionViewModel::startUpFinished, m_heapRelease, &HeapRelease::request);

    m_engine = std::make_unique<QQmlApplicationEngine>();
    // The application's own modules are compiled into the program's resources.
    m_engine->addImportPath(QStringLiteral("qrc:/"));
    m_engine->setInitialProperties({
        { QStringLiteral("model"), QVariant::fromValue<QObject*>(m_session.get()) },
        { QStringLiteral("updates"), QVariant::fromValue<QObject*>(m_updates) },
        { QStringLiteral("theoryURL"), info.theoryPageURL().value_or(QUrl()) },
    });
    m_engine->load(QUrl(QStringLiteral("qrc:/Lumora/Shell/Main.qml")));
    if (m_engine->rootObjects().isEmpty())
        return false;
    m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
    if (!m_window)
        return false;
    // Before the first frame: the desktop may ask for still views.
    if (MotionPreference* motion = MotionPreference::of(*m_engine))
        motion->followDesktop();
    // Sized once, after the window has appeared on its screen.
    QTimer::singleShot(0, this, &CorvaneApp::sizeWindowOnce);
    m_window->show();

    for (const QUrl& url : std::exchange(m_pendingURLs, {}))
        m_session->handleExternalURL(url);
    m_updates->start();
    return true;
}

void CorvaneApp::sizeWindowOnce()
{
    if (m_windowSized || !m_window || !m_window->screen())
        return;
    m_windowSized = true;
    m_window->setGeometry(WindowSizing::initialFrame(m_window->screen()->availableGeometry()));
    if (WindowSizing::opensMaximized(m_arguments))
        m_window->showMaximized();
    connect(m_window, &QQuickWindow::frameSwapped, m_heapRelease, &HeapRelease::request,
        Qt::SingleShotConnection);
    emit windowSized();
}

void CorvaneApp::openURL(const QUrl& url)
{
    if (m_session)
        m_session->handleExternalURL(url);
    else
        m_pendingURLs.append(url);
}

void CorvaneApp::acceptLaunchesFrom(SingleInstance& instance)
{
    connect(&instance, &SingleInstance::urlReceived, this, &CorvaneApp::openURL);
    // Another launch brings the window forward and changes nothing else: a maximised window
    // stays maximised (show() would make it normal again), and a minimised one comes back as
    // it was. A window hidden for the end of the run stays hidden.
    connect(&instance, &SingleInstance::activationRequested, this, [this] {
        if (!m_window || !m_window->isVisible())
            return;
        if (const Qt::WindowStates states = m_window->windowStates(); states & Qt::WindowMinimized)
            m_window->setWindowStates(states & ~Qt::WindowMinimized);
        m_window->raise();
        m_window->requestActivate();
    });
}

void CorvaneApp::giveUpConversation()
{
    if (!m_viewModel)
        return;
    // A second quit meanwhile (the signal sent again) would end the wait below early.
    disconnect(m_quitOnSignal);
    if (m_window)
        m_window->hide();
    bool ended = false;
    QEventLoop waiting;
    QCoro::connect(m_viewModel->giveUpForQuit(), &waiting, [&ended, &waiting] {
        ended = true;
        waiting.quit();
    });
    if (ended)
        return;
    QTimer::singleShot(quitGiveUpLimit, &waiting, &QEventLoop::quit);
    waiting.exec();
    if (!ended)
        qCWarning(appLog, "The conversation was not given up completely before the end.");
}

void CorvaneApp::recordCleanTermination()
{
    if (!m_viewModel || !m_viewModel->launchSentinel())
        return;
    if (!m_viewModel->launchSentinel()->recordCleanTermination())
        qCInfo(appLog, "The launch marker could not be removed.");
}

} // namespace lumora
