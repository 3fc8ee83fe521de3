import QtQuick
import Lumora.Shell
import Lumora.Theme

// A header label: symbol and text side by side.
Row {
    id: root

    property string symbol
    property string text
    property int weight: Font.Normal

    spacing: 6

    Icon {
        symbol: root.symbol
        size: 15
        color: Theme.ink
        anchors.verticalCenter: parent.verticalCenter
    }
    Text {
        text: root.text
        textFormat: Text.PlainText
        font: Theme.interfaceFont(12, root.weight)
        color: Theme.ink
        anchors.verticalCenter: parent.verticalCenter
    }
}
