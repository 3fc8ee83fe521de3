import QtQuick
import QtQuick.Controls
import Lumora.Theme

// A plain button that shows one symbol in a square of `size`.
AbstractButton {
    id: root

    property string symbol
    property real size: 32
    property color colour: Theme.muted

    implicitWidth: root.size
    implicitHeight: root.size
    // Hidden, it is not there for a screen reader either; its press action is a click.
    Accessible.role: Accessible.Button
    Accessible.ignored: !root.visible
    Accessible.onPressAction: root.clicked()

    contentItem: Icon {
        symbol: root.symbol
        size: 16
        color: root.colour
    }
}
