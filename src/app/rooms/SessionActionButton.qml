import QtQuick
import Lumora.Theme

// The room's primary start/finish button: white on navy at rest, attention on blush while the
// room is live, its outline deeper under the pointer; shrinks a little while pressed unless reduce motion is on. It has no disabled
// look of its own.
ThemedButton {
    id: root

    property string symbol
    property bool active

    implicitHeight: Math.max(44, label.implicitHeight + 16)
    implicitWidth: label.implicitWidth + 36
    scale: root.down && !Theme.reduceMotion ? 0.985 : 1

    background: Rectangle {
        radius: 12
        color: root.active ? Theme.buttonFill(root, Theme.withAlpha(Theme.blush, 0.48), Theme.withAlpha(Theme.blush, 0.82))
                           : Theme.buttonFill(root, Theme.navy, Theme.navySoft)
        border.width: 1
        // A live fill dark enough to show the pointer would take the label under 4.5:1: the
        // outline deepens instead.
        border.color: !root.active ? "transparent"
            : root.hovered && !root.down ? Theme.withAlpha(Theme.attention, 0.75) : Theme.withAlpha(Theme.attention, 0.3)
    }
    contentItem: Item {
        Row {
            id: label
            anchors.centerIn: parent
            spacing: 8
            Icon {
                symbol: root.symbol
                size: 16
                color: root.active ? Theme.attention : "white"
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                text: root.text
                textFormat: Text.PlainText
                font: Theme.interfaceFont(14, Font.DemiBold)
                color: root.active ? Theme.attention : "white"
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }
}
