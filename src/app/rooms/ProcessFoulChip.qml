import QtQuick
import QtQuick.Shapes
import Lumora.Rooms
import Lumora.Theme

// A transcript turn's process foul as a capsule in the hard colour with a dashed outline,
// with its confidence or a count.
Item {
    id: root

    // The foul's value on the wire ("kitchen_sinking").
    required property string foul
    // Below 0: not given.
    property int count: -1
    property real confidence: -1

    readonly property string label: PatternTexts.foulChipLabel(root.foul, root.count, root.confidence)
    readonly property font labelFont: Theme.interfaceFont(12, Font.DemiBold)

    implicitWidth: text.implicitWidth + 16
    implicitHeight: text.implicitHeight + 8
    Accessible.role: Accessible.StaticText
    Accessible.name: root.label

    // A border of a Rectangle cannot dash: the capsule is a path, half a line inside the
    // item so that the whole line shows.
    Shape {
        anchors.fill: parent
        layer.enabled: true
        layer.samples: 4

        ShapePath {
            strokeColor: Theme.withAlpha(Theme.attention, 0.45)
            strokeWidth: 1
            strokeStyle: ShapePath.DashLine
            dashPattern: [3, 2]
            fillColor: Theme.withAlpha(Theme.attention, 0.05)
            startX: root.height / 2
            startY: 0.5

            PathLine {
                x: root.width - root.height / 2
                y: 0.5
            }
            PathArc {
                x: root.width - root.height / 2
                y: root.height - 0.5
                radiusX: root.height / 2 - 0.5
                radiusY: root.height / 2 - 0.5
            }
            PathLine {
                x: root.height / 2
                y: root.height - 0.5
            }
            PathArc {
                x: root.height / 2
                y: 0.5
                radiusX: root.height / 2 - 0.5
                radiusY: root.height / 2 - 0.5
            }
        }
    }
    Text {
        id: text
        objectName: "chipText"
        anchors.centerIn: parent
        text: ThemeFonts.upperCased(root.label)
        textFormat: Text.PlainText
        font.family: root.labelFont.family
        font.pixelSize: root.labelFont.pixelSize
        font.weight: root.labelFont.weight
        font.letterSpacing: 0.7
        color: Theme.attention
    }
}
