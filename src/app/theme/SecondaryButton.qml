import QtQuick
import QtQuick.Controls

// The quieter action: navy on paper with a faint outline; keeps full opacity when disabled.
Button {
    id: root

    // Hidden, it is not there for a screen reader either; its press action is a click.
    Accessible.ignored: !root.visible
    Accessible.onPressAction: root.clicked()

    property string symbol

    implicitHeight: Math.max(44, implicitContentHeight + topPadding + bottomPadding)
    leftPadding: 20
    rightPadding: 20
    topPadding: 8
    bottomPadding: 8
    font: Theme.interfaceFont(16, Font.DemiBold)

    contentItem: ButtonLabel {
        symbol: root.symbol
        text: root.text
        font: root.font
        color: Theme.navy
    }
    background: Rectangle {
        radius: 12
        color: root.down ? Theme.sand : Theme.paper
        border.color: Theme.rule
        border.width: 1
    }
}
