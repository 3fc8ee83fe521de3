import QtQuick
import QtQuick.Controls
import Lumora.Theme

// An entry of an actions menu: ink on a sand highlight, a destructive one in the attention
// colour. One that does not show can be neither reached with the keys nor read.
MenuItem {
    id: root

    property bool destructive: false

    enabled: root.visible
    Accessible.ignored: !root.visible
    implicitHeight: 32
    leftPadding: 14
    rightPadding: 14
    contentItem: Text {
        text: root.text
        textFormat: Text.PlainText
        font: root.font
        color: root.destructive ? Theme.attention : Theme.ink
        verticalAlignment: Text.AlignVCenter
    }
    // The keyboard's entry shows the theme's ring, inside the menu's edges, which cut off what
    // is drawn outside them.
    background: Rectangle {
        x: 6
        y: 2
        width: root.width - 12
        height: root.height - 4
        radius: 6
        color: root.highlighted ? Theme.sand : "transparent"
        FocusRing {
            objectName: "focusRing"
            anchors.margins: -2
            visible: root.visualFocus
            controlRadius: 6
        }
    }
}
