import QtQuick
import Lumora.Theme

// A button that draws its own label and background and only answers presses: it dims and,
// unless reduce motion is on, shrinks a little.
ThemedButton {
    id: root

    opacity: root.down ? 0.82 : 1
    scale: root.down && !Theme.reduceMotion ? 0.98 : 1

    Behavior on scale {
        enabled: !Theme.reduceMotion
        NumberAnimation { duration: 120; easing.type: Easing.OutQuad }
    }
    Behavior on opacity {
        enabled: !Theme.reduceMotion
        NumberAnimation { duration: 120; easing.type: Easing.OutQuad }
    }
}
