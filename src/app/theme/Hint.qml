import QtQuick
import QtQuick.Layouts
import Lumora.Theme

// A small muted line with its symbol in front (none without one). An announced one is a message
// that answers what the person asked: a screen reader hears it as it appears, and the page it
// lies on brings it into view (Announcement).
RowLayout {
    id: root

    property string symbol
    property string text
    property color tint: Theme.muted
    property bool announced: false
    property font textFont: Theme.small

    Layout.fillWidth: true
    spacing: 6
    Accessible.role: Accessible.Notification
    Accessible.name: root.text
    Accessible.ignored: !root.announced || !root.visible

    Announcement {
        item: root.announced ? root : null
        text: root.text
    }
    Icon {
        Layout.alignment: Qt.AlignTop
        symbol: root.symbol
        size: Math.max(14, root.textFont.pixelSize)
        color: root.tint
    }
    ReadableText {
        Layout.fillWidth: true
        text: root.text
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: root.textFont
        color: root.tint
    }
}
