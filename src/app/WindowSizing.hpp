#pragma once

#include <QRect>
#include <QStringList>

namespace lumora {

// The window's first frame: maximised, unless the launch arguments hold exactly "--ui-narrow";
// its frame when not maximised is 920 by 680 centred in the screen's available area.
struct WindowSizing {
    static constexpr int minimumWidth = 920;
    static constexpr int minimumHeight = 680;

    static bool isNarrow(const QStringList& arguments);
    // Maximised, the window manager fits the window to the available area title bar and all; a
    // client area set to that whole area put the title bar above the screen.
    static bool opensMaximized(const QStringList& arguments) { return !isNarrow(arguments); }
    static QRect initialFrame(const QRect& available);
};

} // namespace lumora
