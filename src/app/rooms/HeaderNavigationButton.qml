import QtQuick
import QtQuick.Controls
import Lumora.Theme

// A button of the room header: navy label with its symbol, a sand fill while pressed and,
// unless reduce motion is on, a slight shrink. It never dims.
AbstractButton {
    id: root

    property string symbol

    implicitHeight: Math.max(34, label.implicitHeight)
    implicitWidth: label.implicitWidth + 20
    scale: root.down && !Theme.reduceMotion ? 0.98 : 1
    // Hidden, it is not there for a screen reader either; its press action is a click.
    Accessible.role: Accessible.Button
    Accessible.ignored: !root.visible
    Accessible.name: root.text
    Accessible.onPressAction: root.clicked()

    background: Rectangle {
        radius: 10
        color: root.down ? Theme.sand : "transparent"
    }
    contentItem: Item {
        Row {
            id: label
            anchors.centerIn: parent
            spacing: 6
            Icon {
                symbol: root.symbol
                size: 14
                color: Theme.navy
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                text: root.text
                textFormat: Text.PlainText
                font: Theme.interfaceFont(11, Font.DemiBold)
                color: Theme.navy
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }
}
