pragma ComponentBehavior: Bound
import QtQuick
import Lumora.Theme

// Work under way: a ring of dots, brighter towards its leading dot, turning while it runs. With
// reduce motion on it stands still but is drawn all the same. It is drawn with plain items, which
// every renderer draws (the style's busy indicator shows nothing under the software renderer).
Item {
    id: root

    property bool running: true
    property real size: 20
    property color colour: Theme.muted

    implicitWidth: root.size
    implicitHeight: root.size
    Accessible.role: Accessible.Animation
    Accessible.name: qsTr("Working")
    Accessible.ignored: !root.visible

    Item {
        id: ring
        anchors.fill: parent

        Repeater {
            model: 8
            delegate: Rectangle {
                id: dot
                required property int index
                readonly property real angle: dot.index * Math.PI / 4

                width: root.size * 0.22
                height: dot.width
                radius: dot.width / 2
                x: root.size / 2 + Math.cos(dot.angle) * root.size * 0.36 - dot.width / 2
                y: root.size / 2 + Math.sin(dot.angle) * root.size * 0.36 - dot.height / 2
                color: root.colour
                opacity: 0.2 + 0.8 * dot.index / 7
            }
        }
        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 1000
            loops: Animation.Infinite
            running: root.running && root.visible && !Theme.reduceMotion
        }
    }
}
