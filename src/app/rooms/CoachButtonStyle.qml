import QtQuick
import Lumora.Theme

// A corner's coaching button: navy label on a faint tint of the seat's colour, dimmed when
// disabled and, unless reduce motion is on, a little smaller while pressed. It has no
// animation of its own.
ThemedButton {
    id: root

    required property color accent
    property string symbol

    implicitHeight: Math.max(38, implicitContentHeight + topPadding + bottomPadding)
    leftPadding: 12
    rightPadding: 12
    topPadding: 6
    bottomPadding: 6
    opacity: root.enabled ? 1 : 0.42
    scale: root.down && !Theme.reduceMotion ? 0.985 : 1
    font: Theme.interfaceFont(12, Font.DemiBold)

    contentItem: Item {
        implicitWidth: label.implicitWidth
        implicitHeight: label.implicitHeight

        Row {
            id: label
            anchors.centerIn: parent
            spacing: 6

            Icon {
                anchors.verticalCenter: parent.verticalCenter
                symbol: root.symbol
                size: 14
                color: Theme.navy
            }
            Text {
                objectName: "coachButtonText"
                anchors.verticalCenter: parent.verticalCenter
                text: root.text
                textFormat: Text.PlainText
                font: root.font
                color: Theme.navy
            }
        }
    }
    background: Rectangle {
        radius: 12
        color: Theme.buttonFill(root, Theme.withAlpha(root.accent, 0.08), Theme.withAlpha(root.accent, 0.3))
        border.color: Theme.withAlpha(root.accent, 0.34)
        border.width: 1
    }
}
