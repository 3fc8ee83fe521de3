import QtQuick
import QtQuick.Controls
import Lumora.Theme

// A small title beside its icon, in one colour; a screen reader reads the title, and the
// tooltip, when there is one, as its description.
Row {
    id: root

    required property string symbol
    required property string title
    property color tint: Theme.muted
    property string tooltip

    spacing: 4
    ToolTip.visible: hover.hovered && root.tooltip.length > 0
    ToolTip.text: root.tooltip
    ToolTip.delay: 500

    Icon {
        anchors.verticalCenter: parent.verticalCenter
        symbol: root.symbol
        size: 14
        color: root.tint
    }
    ReadableText {
        anchors.verticalCenter: parent.verticalCenter
        text: root.title
        textFormat: Text.PlainText
        font: Theme.small
        color: root.tint
        Accessible.description: root.tooltip
    }
    HoverHandler {
        id: hover
    }
}
