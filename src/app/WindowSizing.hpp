#pragma once

#include <QRect>
#include <QStringList>

namespace lumora {

// The window's first frame: the screen's available area, or 920 by 680 centred in it when the
// launch arguments hold exactly "--ui-narrow".
struct WindowSizing {
    static constexpr int minimumWidth = 920;
    static constexpr int minimumHeight = 680;

    static bool isNarrow(const QStringList& arguments);
    static QRect initialFrame(const QRect& available, bool narrow);
};

} // namespace lumora
