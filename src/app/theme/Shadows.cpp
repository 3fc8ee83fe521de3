#include "Shadows.hpp"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace lumora {

Shadows* Shadows::create(QQmlEngine* engine, QJSEngine*)
{
    auto* shadows = new Shadows;
    // Software drawing chosen by the program or by QT_QUICK_BACKEND shows as the backend; the
    // graphics API reads the same only when QSG_RHI_BACKEND asked for it.
    const bool software = QQuickWindow::sceneGraphBackend() == u"software"
        || QQuickWindow::graphicsApi() == QSGRendererInterface::Software;
    if (!software) {
        const auto effect = [&](const char* file) {
            auto* component = new QQmlComponent(
                engine, QUrl(QStringLiteral("qrc:/Lumora/Theme/") + QLatin1String(file)), shadows);
            // An item's layer creates its effect in the effect component's own context, which
            // a component made outside QML does not have.
            QQmlEngine::setContextForObject(component, engine->rootContext());
            return component;
        };
        shadows->m_card = effect("CardShadow.qml");
        shadows->m_overlay = effect("OverlayShadow.qml");
    }
    return shadows;
}

} // namespace lumora
