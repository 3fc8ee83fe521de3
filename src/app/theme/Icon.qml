import QtQuick
import Lumora.Theme

// One symbol of the icon set, named as the screens name it.
Text {
    id: root

    property string symbol
    property real size: 16

    text: ThemeFonts.glyph(root.symbol)
    visible: text.length > 0
    textFormat: Text.PlainText
    font.family: ThemeFonts.iconFamily
    font.pixelSize: root.size
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
}
