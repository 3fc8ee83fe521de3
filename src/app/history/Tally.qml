import QtQuick
import Lumora.Theme

// One figure of what the observer counted, over its caption, on a faint tile of its colour.
Item {
    id: root

    required property string value
    required property string name
    required property color tint

    implicitHeight: figures.implicitHeight + 24

    Rectangle {
        anchors.fill: parent
        radius: 12
        color: Theme.withAlpha(root.tint, 0.07)
    }
    Column {
        id: figures
        anchors.centerIn: parent
        spacing: 2
        ReadableText {
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.value
            textFormat: Text.PlainText
            font: Theme.interfaceFont(24, Font.DemiBold)
            color: root.tint
        }
        ReadableText {
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.name
            textFormat: Text.PlainText
            font: Theme.small
            color: root.tint
        }
    }
}
