import QtQuick
import Lumora.Theme

// A large tally beside the shared gauge: the figure in its colour over an upper-case caption.
Column {
    id: root

    required property string value
    required property string label
    required property color color

    readonly property font captionFont: Theme.interfaceFont(12, Font.Medium)

    width: 64
    spacing: 4

    Text {
        objectName: "tallyValue"
        width: root.width
        horizontalAlignment: Text.AlignHCenter
        text: root.value
        textFormat: Text.PlainText
        font: Theme.display(24, Font.DemiBold)
        color: root.color
    }
    Text {
        width: root.width
        horizontalAlignment: Text.AlignHCenter
        text: ThemeFonts.upperCased(root.label)
        textFormat: Text.PlainText
        font.family: root.captionFont.family
        font.pixelSize: root.captionFont.pixelSize
        font.weight: root.captionFont.weight
        font.letterSpacing: 1.5
        color: Theme.muted
    }
}
