import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// A step of the setup sheet: its symbol, title and explanation on a paper card.
Item {
    id: root

    required property string symbol
    required property string title
    required property string detail

    implicitHeight: row.implicitHeight + 40
    Layout.fillWidth: true

    Rectangle {
        anchors.fill: parent
        radius: 16
        color: Theme.withAlpha(Theme.paper, 0.94)
        border.color: Theme.rule
        border.width: 1
    }
    RowLayout {
        id: row
        x: 20
        y: 20
        width: root.width - 40
        spacing: 16

        Icon {
            Layout.alignment: Qt.AlignTop
            Layout.preferredWidth: 32
            symbol: root.symbol
            size: 24
            color: Theme.positive
        }
        Column {
            Layout.alignment: Qt.AlignTop
            Layout.fillWidth: true
            spacing: 8
            ReadableText {
                objectName: "setupCardTitle"
                width: parent.width
                text: root.title
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.display(24, Font.Medium)
                color: Theme.ink
            }
            ReadableText {
                objectName: "setupCardDetail"
                width: parent.width
                text: root.detail
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.body
                lineHeightMode: Text.FixedHeight
                lineHeight: font.pixelSize * 1.35 + 2
                color: Theme.muted
            }
        }
    }
}
