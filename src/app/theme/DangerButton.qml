import QtQuick
import Lumora.Theme

// A destructive action: small, in the attention colour on a blush tint; dimmed when disabled.
ThemedButton {
    id: root

    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: Math.max(40, implicitContentHeight + topPadding + bottomPadding)
    leftPadding: 16
    rightPadding: 16
    topPadding: 8
    bottomPadding: 8
    opacity: root.enabled ? 1 : 0.46
    font: Theme.interfaceFont(12, Font.DemiBold)

    contentItem: Text {
        text: root.text
        textFormat: Text.PlainText
        font: root.font
        color: Theme.blushDark
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        radius: 12
        color: Theme.buttonFill(root, Theme.withAlpha(Theme.blush, 0.34), Theme.withAlpha(Theme.blush, 0.72))
        border.color: Theme.withAlpha(Theme.blushDark, 0.28)
        border.width: 1
    }
}
