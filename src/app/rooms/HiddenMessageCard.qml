import QtQuick
import QtQuick.Layouts
import Lumora.Theme

// The message behind the header's brand mark.
Rectangle {
    id: root

    signal close

    implicitWidth: row.implicitWidth + 32
    implicitHeight: row.implicitHeight + 32
    radius: 16
    color: Theme.withAlpha(Theme.paper, 0.99)
    border.width: 1
    border.color: Theme.rule

    // A press on the card is the card's own, whatever lies under it.
    MouseArea {
        anchors.fill: parent
    }
    RowLayout {
        id: row
        x: 16
        y: 16
        spacing: 12
        CorvaneBrandMark {
            size: 32
            isDecorative: true
        }
        ColumnLayout {
            spacing: 4
            TrackedLabel {
                caption: qsTr("the thread underneath")
            }
            ReadableText {
                text: qsTr("Make room before making the point.")
                textFormat: Text.PlainText
                font: Theme.display(20, Font.Medium)
                color: Theme.ink
            }
        }
        SymbolButton {
            objectName: "closeHiddenMessageButton"
            symbol: "xmark"
            size: 40
            Accessible.name: qsTr("Close hidden message")
            onClicked: root.close()
        }
    }
}
