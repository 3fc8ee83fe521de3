import QtQuick

// Minutes and seconds that keep one width while they count: the box is as wide as the same
// text with every digit a zero, and the digits sit at its right edge.
Text {
    id: root

    textFormat: Text.PlainText
    horizontalAlignment: Text.AlignRight
    width: widest.advanceWidth
    Accessible.role: Accessible.StaticText
    Accessible.name: root.text

    TextMetrics {
        id: widest
        font: root.font
        text: root.text.replace(/[0-9]/g, "0")
    }
}
