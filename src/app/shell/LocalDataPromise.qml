import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// A tinted card that says in a line and a paragraph how the page's data is kept, with a badge.
Item {
    id: root

    required property string title
    required property string detail
    property string badge

    implicitHeight: row.implicitHeight + 40

    Rectangle {
        anchors.fill: parent
        radius: 16
        color: Theme.withAlpha(Theme.sage, 0.13)
        border.color: Theme.withAlpha(Theme.sage, 0.56)
        border.width: 1
    }
    RowLayout {
        id: row
        x: 20
        y: 20
        width: root.width - 40
        spacing: 16

        Rectangle {
            Layout.alignment: Qt.AlignTop
            Layout.preferredWidth: 40
            Layout.preferredHeight: 40
            radius: 20
            color: Theme.withAlpha(Theme.sage, 0.24)
            Icon {
                anchors.centerIn: parent
                symbol: "lock.macwindow"
                size: 22
                color: Theme.positive
            }
        }
        Column {
            Layout.alignment: Qt.AlignTop
            Layout.fillWidth: true
            spacing: 8
            ReadableText {
                width: parent.width
                text: root.title
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.interfaceFont(16, Font.DemiBold)
                color: Theme.ink
            }
            ReadableText {
                width: parent.width
                text: root.detail
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.small
                lineHeightMode: Text.FixedHeight
                lineHeight: font.pixelSize * 1.35 + 2
                color: Theme.muted
            }
        }
        ReadableText {
            Layout.alignment: Qt.AlignTop
            text: root.badge
            textFormat: Text.PlainText
            font.family: Theme.label.family
            font.pixelSize: Theme.label.pixelSize
            font.weight: Theme.label.weight
            font.letterSpacing: 1.4
            color: Theme.positive
        }
    }
}
