import QtQuick
import Lumora.Theme

// The round close button in the corner of a guidance card.
ThemedButton {
    id: root

    implicitWidth: 34
    implicitHeight: 34
    focusRadius: 17

    background: Rectangle {
        radius: width / 2
        color: Theme.buttonFill(root, Theme.paper, Theme.rule)
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
