#include "SceneRenderer.hpp"

#include <QDir>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace lumora {

bool SceneRenderer::hasGraphicsDevice(const QString& devices)
{
    // A card without a render node (a firmware framebuffer, a display-only driver) draws
    // nothing itself.
    return !QDir(devices + QStringLiteral("/dri"))
                .entryList({ QStringLiteral("renderD*") }, QDir::System | QDir::Files | QDir::Readable)
                .isEmpty();
}

bool SceneRenderer::prefersSoftware(const QString& devices)
{
    for (const char* chosen : { "QT_QUICK_BACKEND", "QSG_RHI_BACKEND" }) {
        if (!qEnvironmentVariableIsEmpty(chosen))
            return false;
    }
    return !hasGraphicsDevice(devices);
}

void SceneRenderer::chooseForThisMachine()
{
    if (prefersSoftware())
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

} // namespace lumora
