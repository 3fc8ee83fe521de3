import QtQuick
import Lumora.Theme

// Minutes and seconds that keep one width while they count: the box is as wide as the same
// text with every digit a zero, and the digits sit at its right edge.
ReadableText {
    id: root

    textFormat: Text.PlainText
    horizontalAlignment: Text.AlignRight
    width: widest.advanceWidth

    TextMetrics {
        id: widest
        font: root.font
        text: root.text.replace(/[0-9]/g, "0")
    }
}
