import QtQuick
import QtQuick.Shapes
import Lumora.Theme

// The product's mark, drawn at any size: an open ivory ring on navy with two dots, the two
// partners.
Item {
    id: root

    property real size: 32
    property bool isDecorative: false
    readonly property real unit: root.size / 256

    implicitWidth: root.size
    implicitHeight: root.size
    width: root.size
    height: root.size
    Accessible.ignored: root.isDecorative || !root.visible
    Accessible.name: "Corvane"

    Rectangle {
        x: 8 * root.unit
        y: 8 * root.unit
        width: 240 * root.unit
        height: 240 * root.unit
        radius: 56 * root.unit
        color: Theme.navy
    }
    Shape {
        anchors.fill: parent
        ShapePath {
            strokeColor: Theme.ivory
            strokeWidth: 22 * root.unit
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap
            startX: 170 * root.unit
            startY: 86 * root.unit
            PathArc {
                x: 170 * root.unit
                y: 170 * root.unit
                radiusX: 60 * root.unit
                radiusY: 60 * root.unit
                useLargeArc: true
                direction: PathArc.Counterclockwise
            }
        }
    }
    Rectangle {
        x: (176 - 14) * root.unit
        y: (128 - 14) * root.unit
        width: 28 * root.unit
        height: 28 * root.unit
        radius: width / 2
        color: Theme.sage
    }
    Rectangle {
        x: (128 - 14) * root.unit
        y: (128 - 14) * root.unit
        width: 28 * root.unit
        height: 28 * root.unit
        radius: width / 2
        color: Theme.blush
    }
}
