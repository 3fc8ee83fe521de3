#include "CorvaneApp.hpp"
#include "DevelopmentBuild.hpp"
#include "SingleInstance.hpp"
#include "graphics/SceneRenderer.hpp"
#include "security/OpenSslProcess.hpp"
#include "theme/ButtonAccessibility.hpp"
#include "theme/CoveredContent.hpp"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTextStream>
#include <QThread>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Lumora_ThemePlugin)
Q_IMPORT_QML_PLUGIN(Lumora_RoomsPlugin)
Q_IMPORT_QML_PLUGIN(Lumora_HistoryPlugin)
Q_IMPORT_QML_PLUGIN(Lumora_PeoplePlugin)
Q_IMPORT_QML_PLUGIN(Lumora_ShellPlugin)

namespace {

// The first argument that parses as an absolute URL: the desktop passes the opened link so.
QUrl launchURL(const QStringList& arguments)
{
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QString& argument = arguments.at(index);
        if (argument.startsWith(QLatin1String("--")))
            continue;
        const QUrl url = lumora::SingleInstance::parseMessage(argument.toUtf8());
        if (!url.isEmpty())
            return url;
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    lumora::OpenSslProcess::keepStateUntilExit();
    QElapsedTimer sinceStart;
    sinceStart.start();
    QGuiApplication::setApplicationName(QStringLiteral("Lumora"));
    QGuiApplication::setOrganizationName(QStringLiteral("Lumora"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
    QGuiApplication::setDesktopFileName(QStringLiteral("lumora"));
    // The controls keep the light look of the theme whatever the desktop's colour scheme.
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QGuiApplication application(argc, argv);
    lumora::SceneRenderer::chooseForThisMachine();
    lumora::ButtonAccessibility::install();
    lumora::CoveredContent::install();
    const QStringList arguments = QCoreApplication::arguments();
    const QUrl url = launchURL(arguments);

    // A later launch hands its URL to the running one and ends.
    const QString socketPath = lumora::SingleInstance::standardSocketPath();
    if (lumora::SingleInstance::handOff(socketPath, url))
        return 0;
    lumora::SingleInstance instance(socketPath);
    const bool listening = instance.listen();
    // A launch at the same moment got there first and is about to listen: it takes this URL.
    for (int attempt = 0; !listening && instance.heldByAnother() && attempt < 20; ++attempt) {
        if (lumora::SingleInstance::handOff(socketPath, url))
            return 0;
        QThread::msleep(100);
    }

    lumora::CorvaneApp app(
        application, arguments, lumora::DevelopmentBuild::prepare(lumora::InfoResource::bundled()));
    if (listening)
        app.acceptLaunchesFrom(instance);
    if (!url.isEmpty())
        app.openURL(url);
    if (!app.start([&arguments](lumora::SessionEnvironment& environment) {
            lumora::DevelopmentBuild::addAccountDeletionHooks(environment, arguments);
        }))
        return 1;
    lumora::DevelopmentBuild::startConversationWhenReady(*app.viewModel(), arguments);
    lumora::DevelopmentBuild::deleteAccountWhenReady(*app.viewModel(), arguments);

    // For the cold-start measurement and the launch tests: report the first frame of the sized
    // window, with its geometry, and quit.
    if (arguments.contains(QStringLiteral("--exit-after-first-frame"))) {
        QQuickWindow* window = app.window();
        auto reportNextFrame = [&application, window, &sinceStart] {
            QObject::connect(
                window, &QQuickWindow::frameSwapped, &application,
                [window, &sinceStart] {
                    const QRect frame = window->geometry();
                    QTextStream(stdout)
                        << "first frame after " << sinceStart.elapsed() << " ms, window " << frame.width()
                        << 'x' << frame.height() << '+' << frame.x() << '+' << frame.y() << '\n';
                    QCoreApplication::quit();
                },
                Qt::SingleShotConnection);
        };
        if (app.isWindowSized())
            reportNextFrame();
        else
            QObject::connect(&app, &lumora::CorvaneApp::windowSized, &application, reportNextFrame);
    }
    return application.exec();
}
