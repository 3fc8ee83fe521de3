import QtQuick
import QtQuick.Controls
import Lumora.Theme

// A button of the room header: navy label with its symbol, a fill in the rule's tone while
// pressed (most of it under the pointer) and, unless reduce motion is on, a slight shrink. It never dims. Where
// the header is short of room it shows its symbol alone, its name then a tooltip (and still
// its accessible name).
ThemedButton {
    id: root

    property string symbol
    property bool iconOnly: false
    // Its width with the label, whether the label shows or not.
    readonly property real labelledWidth: icon.implicitWidth + label.spacing + title.implicitWidth + 20

    implicitHeight: Math.max(34, label.implicitHeight)
    implicitWidth: label.implicitWidth + 20
    scale: root.down && !Theme.reduceMotion ? 0.98 : 1
    focusRadius: 10
    ToolTip.visible: root.iconOnly && root.hovered
    ToolTip.delay: 500
    ToolTip.text: root.text

    background: Rectangle {
        radius: 10
        color: Theme.buttonFill(root, Theme.withAlpha(Theme.rule, 0), Theme.rule)
    }
    contentItem: Item {
        Row {
            id: label
            anchors.centerIn: parent
            spacing: 6
            Icon {
                id: icon
                symbol: root.symbol
                size: 14
                color: Theme.navy
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                id: title
                objectName: root.objectName + "Label"
                visible: !root.iconOnly
                text: root.text
                textFormat: Text.PlainText
                font: Theme.interfaceFont(11, Font.DemiBold)
                color: Theme.navy
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }
}
