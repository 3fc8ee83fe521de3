import QtQuick
import Lumora.Theme

// The main action: white on navy; dimmed when disabled, shrinks a little while pressed.
ThemedButton {
    id: root

    property string symbol

    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: Math.max(44, implicitContentHeight + topPadding + bottomPadding)
    leftPadding: 20
    rightPadding: 20
    topPadding: 8
    bottomPadding: 8
    opacity: root.enabled ? 1 : 0.46
    scale: root.down && !Theme.reduceMotion ? 0.99 : 1
    font: Theme.interfaceFont(16, Font.DemiBold)

    Behavior on scale {
        enabled: !Theme.reduceMotion
        NumberAnimation { duration: 120; easing.type: Easing.OutQuad }
    }

    contentItem: ButtonLabel {
        symbol: root.symbol
        text: root.text
        font: root.font
        color: "white"
    }
    background: Rectangle {
        radius: 12
        color: Theme.buttonFill(root, Theme.navy, Theme.navySoft)
    }
}
