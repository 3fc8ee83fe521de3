#pragma once

#include <QString>

namespace lumora {

// Chooses how Qt Quick draws the window. Without a graphics device, OpenGL comes from Mesa's
// software rasteriser (llvmpipe): each frame then costs some 40 ms and the rasteriser's
// compiled shaders and libLLVM about 100 MB, where Qt Quick's own software renderer draws the
// same window in about 10 ms within a few megabytes. The window looks right with either: it
// leaves out its drop shadows, the one shader effect it has, under the software renderer.
class SceneRenderer {
public:
    // Whether the machine has a device that OpenGL or Vulkan draws with in hardware: a render
    // node among `devices`/dri.
    static bool hasGraphicsDevice(const QString& devices = QStringLiteral("/dev"));
    // Whether the software renderer is the better choice here: no graphics device, and the
    // user has not named a renderer in Qt's own environment variables.
    static bool prefersSoftware(const QString& devices = QStringLiteral("/dev"));
    // Before the first window is made: the software renderer where it is the better choice.
    static void chooseForThisMachine();
};

} // namespace lumora
