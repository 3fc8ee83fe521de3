import QtQuick
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

    // A border of a Rectangle cannot dash: the capsule is painted, and drawn from that painting
    // while the transcript moves.
    DashedCapsule {
        anchors.fill: parent
        strokeColor: Theme.withAlpha(Theme.attention, 0.45)
        fillColor: Theme.withAlpha(Theme.attention, 0.05)
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
