import QtQuick
import Lumora.Theme

// Marks a weekly check-in, with the week it belongs to, in a sage capsule.
Item {
    id: root

    required property string label

    implicitWidth: badge.implicitWidth + 16
    implicitHeight: badge.implicitHeight + 8

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: Theme.withAlpha(Theme.sage, 0.22)
        border.color: Theme.withAlpha(Theme.sage, 0.6)
        border.width: 1
    }
    Badge {
        id: badge
        x: 8
        y: 4
        symbol: "calendar.badge.clock"
        title: root.label
        tint: Theme.sageDark
    }
}
