import QtQuick
import Lumora.Rooms
import Lumora.Theme

// A transcript turn's behaviour code as a capsule in the warm or the hard colour, with its
// confidence or a count.
Rectangle {
    id: root

    // The code's value on the wire ("criticism").
    required property string code
    // Below 0: not given.
    property int count: -1
    property real confidence: -1

    readonly property string label: PatternTexts.behaviorChipLabel(root.code, root.count, root.confidence)
    readonly property color tint: PatternTexts.isWarmCode(root.code) ? Theme.positive : Theme.attention
    readonly property font labelFont: Theme.interfaceFont(12, Font.DemiBold)

    implicitWidth: text.implicitWidth + 16
    implicitHeight: text.implicitHeight + 8
    radius: height / 2
    color: Theme.withAlpha(root.tint, 0.08)
    border.color: Theme.withAlpha(root.tint, 0.28)
    border.width: 1
    Accessible.role: Accessible.StaticText
    Accessible.name: root.label

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
        color: root.tint
    }
}
