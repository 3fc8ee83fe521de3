import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// A small muted line with its symbol in front; an announced one is an alert to a screen
// reader, said as it appears.
RowLayout {
    id: root

    property string symbol
    property string text
    property color tint: Theme.muted
    property bool announced: false
    property font textFont: Theme.small

    Layout.fillWidth: true
    spacing: 6

    Icon {
        Layout.alignment: Qt.AlignTop
        symbol: root.symbol
        size: 14
        color: root.tint
    }
    ReadableText {
        Layout.fillWidth: true
        text: root.text
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: root.textFont
        color: root.tint
        Accessible.role: root.announced ? Accessible.AlertMessage : Accessible.StaticText
    }
}
