import QtQuick
import Lumora.Theme

// The quieter action: navy on paper with a faint outline, the rule's tone under the pointer and
// pressed; dimmed when disabled, as every button is, so that one that does nothing does not look
// as if it would.
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
    font: Theme.interfaceFont(16, Font.DemiBold)

    contentItem: ButtonLabel {
        symbol: root.symbol
        text: root.text
        font: root.font
        color: Theme.navy
    }
    background: Rectangle {
        radius: 12
        color: Theme.buttonFill(root, Theme.paper, Theme.rule)
        border.color: Theme.rule
        border.width: 1
    }
}
