import QtQuick
import QtQuick.Controls
import Lumora.Theme

// The round close button in the corner of a guidance card.
AbstractButton {
    id: root

    implicitWidth: 34
    implicitHeight: 34
    // Hidden, it is not there for a screen reader either; its press action is a click.
    Accessible.role: Accessible.Button
    Accessible.ignored: !root.visible
    Accessible.onPressAction: root.clicked()

    background: Rectangle {
        radius: width / 2
        color: root.down ? Theme.sand : Theme.paper
        border.width: 1
        border.color: Theme.rule
    }
    contentItem: Icon {
        symbol: "xmark"
        size: 14
        font.weight: Font.Bold
        color: Theme.muted
    }
}
