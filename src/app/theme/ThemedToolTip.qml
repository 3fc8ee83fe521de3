import QtQuick
import QtQuick.Controls

// A tip over the control it is declared in, drawn in the theme's colours: paper words on ink,
// in the interface face. It shows a moment after `visible` turns true, as a tip does.
ToolTip {
    id: root

    delay: 500
    leftPadding: 10
    rightPadding: 10
    topPadding: 6
    bottomPadding: 6
    font: Theme.interfaceFont(12, Font.Medium)

    contentItem: Text {
        text: root.text
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: root.font
        color: Theme.paper
    }
    background: Rectangle {
        radius: 8
        color: Theme.ink
    }
}
