// A bare Qt Quick window of the application's narrow size with nothing in it: the yardstick of
// the idle memory benchmark, started the same way as the application and drawn by the renderer
// it would choose.
#include "SceneRenderer.hpp"

#include <QGuiApplication>
#include <QQmlApplicationEngine>

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    lumora::SceneRenderer::chooseForThisMachine();
    QQmlApplicationEngine engine;
    engine.loadData("import QtQuick\nWindow { width: 920; height: 680; visible: true; color: \"white\" }");
    if (engine.rootObjects().isEmpty())
        return 1;
    return application.exec();
}
