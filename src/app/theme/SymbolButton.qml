import QtQuick
import Lumora.Theme

// A plain button that shows one symbol in a square of `size`, on a disc of the rule's tone while
// the pointer is over it or it is pressed.
ThemedButton {
    id: root

    property string symbol
    property real size: 32
    property real symbolSize: 16
    property color colour: Theme.muted

    implicitWidth: root.size
    implicitHeight: root.size
    focusRadius: root.size / 2

    background: Rectangle {
        radius: width / 2
        color: Theme.buttonFill(root, Theme.withAlpha(Theme.rule, 0), Theme.rule)
    }
    contentItem: Icon {
        symbol: root.symbol
        size: root.symbolSize
        color: root.colour
    }
}
