import QtQuick
import QtQuick.Controls
import Lumora.Theme

// Where a scrolling page is, shown while it moves: a thin muted bar along its trailing edge,
// which goes again once the page rests. A screen reader has the page's own contents.
ScrollIndicator {
    id: root

    objectName: "pageScrollIndicator"
    padding: 3
    Accessible.ignored: true

    contentItem: Rectangle {
        implicitWidth: 4
        implicitHeight: 4
        radius: 2
        color: Theme.withAlpha(Theme.muted, 0.6)
        opacity: root.active && root.size < 1 ? 1 : 0
        Behavior on opacity {
            enabled: !Theme.reduceMotion
            NumberAnimation { duration: 400; easing.type: Easing.OutQuad }
        }
    }
}
