#pragma once

#include "viewmodel/InfoResource.hpp"

#include <QObject>
#include <QQmlApplicationEngine>
#include <QSettings>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QGuiApplication;
class QQuickWindow;

namespace lumora {

class HeapRelease;
class SecureUpdateController;
class SessionViewModel;
struct SessionEnvironment;
class ShellSessionAdapter;
class SingleInstance;
class ProcessSignals;

// The application: the update controller and the bundled fonts first, then the one session
// view model, the window with its menus, and the clean end of the run. URLs that arrive
// before the view model exists are kept and delivered once it does.
class CorvaneApp : public QObject {
    Q_OBJECT

public:
    // How long the end of the run waits for a conversation to be given up (its reservation
    // cancelled): the recording itself is gone before the wait.
    static constexpr std::chrono::milliseconds quitGiveUpLimit { 2000 };

    CorvaneApp(QGuiApplication& application, QStringList arguments, InfoResource info);
    ~CorvaneApp() override;

    // Builds the view model and the window; false when the window could not be loaded.
    // `adjustEnvironment` may change what the view model takes from the process first.
    [[nodiscard]] bool start(const std::function<void(SessionEnvironment&)>& adjustEnvironment = {});
    // Hands a URL to the view model (now, or once it exists).
    void openURL(const QUrl& url);
    // Listens for later launches of the application.
    void acceptLaunchesFrom(SingleInstance& instance);

    [[nodiscard]] QQuickWindow* window() const { return m_window; }
    [[nodiscard]] bool isWindowSized() const { return m_windowSized; }
    [[nodiscard]] SecureUpdateController& updates() const { return *m_updates; }
    // The view model, once `start` has built it.
    [[nodiscard]] SessionViewModel* viewModel() const { return m_viewModel.get(); }

signals:
    // The window has taken its first frame.
    void windowSized();

private:
    void sizeWindowOnce();
    void giveUpConversation();
    void recordCleanTermination();

    QGuiApplication& m_application;
    QStringList m_arguments;
    InfoResource m_info;
    QMetaObject::Connection m_quitOnSignal;
    SecureUpdateController* m_updates = nullptr;
    HeapRelease* m_heapRelease = nullptr;
    std::unique_ptr<QSettings> m_preferences;
    std::unique_ptr<SessionViewModel> m_viewModel;
    std::unique_ptr<ShellSessionAdapter> m_session;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    std::unique_ptr<ProcessSignals> m_signals;
    QQuickWindow* m_window = nullptr;
    bool m_windowSized = false;
    QList<QUrl> m_pendingURLs;
};

} // namespace lumora
