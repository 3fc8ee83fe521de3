import QtQuick
import QtQuick.Controls

// A destructive action: small, in the attention colour on a blush tint.
Button {
    id: root

    // Hidden, it is not there for a screen reader either; its press action is a click.
    Accessible.ignored: !root.visible
    Accessible.onPressAction: root.clicked()

    implicitHeight: Math.max(40, implicitContentHeight + topPadding + bottomPadding)
    leftPadding: 16
    rightPadding: 16
    topPadding: 8
    bottomPadding: 8
    font: Theme.interfaceFont(12, Font.DemiBold)

    contentItem: Text {
        text: root.text
        font: root.font
        color: Theme.blushDark
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        radius: 12
        color: Theme.withAlpha(Theme.blush, root.down ? 0.72 : 0.34)
        border.color: Theme.withAlpha(Theme.blushDark, 0.28)
        border.width: 1
    }
}
