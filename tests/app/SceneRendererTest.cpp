#include "SceneRenderer.hpp"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace lumora {
namespace {

void touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

// Only a render node makes a graphics device; a named renderer is the user's to keep.
TEST(SceneRenderer, SoftwareOnlyWithoutARenderNodeAndWithoutTheUsersOwnChoice)
{
    const QByteArray quickBackend = qgetenv("QT_QUICK_BACKEND");
    const QByteArray rhiBackend = qgetenv("QSG_RHI_BACKEND");
    qunsetenv("QT_QUICK_BACKEND");
    qunsetenv("QSG_RHI_BACKEND");
    const QTemporaryDir devices;
    EXPECT_FALSE(SceneRenderer::hasGraphicsDevice(devices.path())) << "no dri folder";
    ASSERT_TRUE(QDir(devices.path()).mkdir("dri"));
    touch(devices.filePath("dri/card0"));
    EXPECT_FALSE(SceneRenderer::hasGraphicsDevice(devices.path())) << "a display-only card";
    EXPECT_TRUE(SceneRenderer::prefersSoftware(devices.path()));

    for (const char* chosen : { "QT_QUICK_BACKEND", "QSG_RHI_BACKEND" }) {
        qputenv(chosen, "opengl");
        EXPECT_FALSE(SceneRenderer::prefersSoftware(devices.path())) << chosen;
        qunsetenv(chosen);
    }

    touch(devices.filePath("dri/renderD128"));
    EXPECT_TRUE(SceneRenderer::hasGraphicsDevice(devices.path()));
    EXPECT_FALSE(SceneRenderer::prefersSoftware(devices.path()));

    if (!quickBackend.isEmpty())
        qputenv("QT_QUICK_BACKEND", quickBackend);
    if (!rhiBackend.isEmpty())
        qputenv("QSG_RHI_BACKEND", rhiBackend);
}

} // namespace
} // namespace lumora
