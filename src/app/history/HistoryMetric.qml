import QtQuick
import Lumora.Theme

// One total above the cards: a tinted dot, the figure and what it counts.
Item {
    id: root

    required property string value
    required property string label
    required property color tint

    implicitHeight: Math.max(38, figures.implicitHeight) + 32

    Rectangle {
        anchors.fill: parent
        radius: 16
        color: Theme.withAlpha(Theme.paper, 0.78)
        border.color: Theme.rule
        border.width: 1
    }
    Row {
        x: 16
        anchors.verticalCenter: parent.verticalCenter
        spacing: 16

        Rectangle {
            anchors.verticalCenter: parent.verticalCenter
            width: 38
            height: 38
            radius: 19
            color: Theme.withAlpha(root.tint, 0.16)
            Rectangle {
                anchors.centerIn: parent
                width: 9
                height: 9
                radius: 4.5
                color: root.tint
            }
        }
        Column {
            id: figures
            anchors.verticalCenter: parent.verticalCenter
            spacing: 4
            ReadableText {
                objectName: root.objectName + "Value"
                text: root.value
                textFormat: Text.PlainText
                font: Theme.figures(20, Font.DemiBold)
                color: Theme.ink
            }
            ReadableText {
                text: ThemeFonts.upperCased(root.label)
                textFormat: Text.PlainText
                font.family: Theme.small.family
                font.pixelSize: Theme.small.pixelSize
                font.weight: Theme.small.weight
                font.letterSpacing: 1.1
                color: Theme.muted
                Accessible.name: root.label
            }
        }
    }
}
