import QtQuick
import Lumora.Theme

// The top of a scrolling page: the large title, the letter-spaced subtitle in capitals and a
// faint rule under both.
Item {
    id: root

    required property string title
    required property string subtitle

    implicitWidth: column.implicitWidth
    implicitHeight: column.implicitHeight + 16

    Column {
        id: column
        width: root.width
        spacing: 8

        ReadableText {
            objectName: "pageTitle"
            width: parent.width
            text: root.title
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.display(40, Font.DemiBold)
            color: Theme.ink
        }
        ReadableText {
            objectName: "pageSubtitle"
            width: parent.width
            text: ThemeFonts.upperCased(root.subtitle)
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font.family: Theme.small.family
            font.pixelSize: Theme.small.pixelSize
            font.weight: Theme.small.weight
            font.letterSpacing: 2.1
            color: Theme.muted
        }
    }
    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: Theme.rule
        opacity: 0.35
    }
}
