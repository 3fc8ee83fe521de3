import QtQuick
import Lumora.Theme

// A small tally beside a seat's gauge: the figure in its colour over an upper-case caption.
Column {
    id: root

    required property string value
    required property string label
    required property color color

    readonly property font captionFont: Theme.interfaceFont(9, Font.Bold)

    width: 34
    spacing: 1

    Text {
        objectName: "tallyValue"
        width: root.width
        horizontalAlignment: Text.AlignHCenter
        text: root.value
        textFormat: Text.PlainText
        font: Theme.display(15, Font.DemiBold)
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
        font.letterSpacing: 0.8
        color: Theme.muted
    }
}
