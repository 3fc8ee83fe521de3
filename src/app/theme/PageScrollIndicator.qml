import QtQuick
import QtQuick.Controls
import Lumora.Theme

// Where a scrolling page is, shown while it moves and for a moment after (so that one turn of
// the wheel shows it too): a thin muted bar along its trailing edge. A screen reader has the
// page's own contents.
ScrollIndicator {
    id: root

    // Whether the bar is drawn now.
    property bool shown: false

    objectName: "pageScrollIndicator"
    padding: 3
    Accessible.ignored: true
    onActiveChanged: {
        if (root.active) {
            lingering.stop()
            root.shown = true
        } else {
            lingering.restart()
        }
    }

    Timer {
        id: lingering
        interval: 800
        onTriggered: root.shown = false
    }
    contentItem: Rectangle {
        implicitWidth: 4
        implicitHeight: 4
        radius: 2
        color: Theme.withAlpha(Theme.muted, 0.6)
        opacity: root.shown && root.size < 1 ? 1 : 0
        Behavior on opacity {
            enabled: !Theme.reduceMotion
            NumberAnimation { duration: 300; easing.type: Easing.OutQuad }
        }
    }
}
