import QtQuick
import QtQuick.Controls
import Lumora.Shell
import Lumora.Theme

// A drop-down choice on paper with the cards' faint outline.
ComboBox {
    id: root

    implicitHeight: 40
    leftPadding: 12
    rightPadding: root.indicator.width + 4
    font: Theme.interfaceFont(14, Font.Normal)
    Accessible.ignored: !root.visible

    background: Rectangle {
        radius: 10
        color: root.down ? Theme.sand : Theme.paper
        border.color: root.visualFocus ? Theme.navy : Theme.rule
        border.width: 1
    }
    // The theme's own glyph: the style's image indicator would be the only bitmap on the page.
    indicator: Icon {
        x: root.width - width - 10
        y: (root.height - height) / 2
        symbol: "chevron.up.chevron.down"
        size: 18
        color: Theme.muted
    }
    contentItem: Text {
        text: root.displayText
        textFormat: Text.PlainText
        font: root.font
        color: Theme.ink
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
}
