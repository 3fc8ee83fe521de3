import QtQuick
import QtQuick.Layouts
import Lumora.History
import Lumora.Theme

// A behaviour or a process foul the observer saw, with how often: the title in its warm or
// hard colour, the caption "process foul" after a foul's, and "×N" at the end.
RowLayout {
    id: root

    required property definitionRow row

    spacing: 8

    ReadableText {
        text: root.row.title
        textFormat: Text.PlainText
        font: Theme.interfaceFont(12, Font.DemiBold)
        color: root.row.isWarm ? Theme.positive : Theme.attention
    }
    ReadableText {
        visible: root.row.isFoul
        text: qsTr("process foul")
        font: Theme.small
        color: Theme.muted
    }
    Item {
        Layout.fillWidth: true
    }
    ReadableText {
        text: root.row.count
        textFormat: Text.PlainText
        font: Theme.figures(12, Font.Medium)
        color: Theme.ink
    }
}
