import QtQuick
import QtQuick.Layouts
import Lumora.History
import Lumora.Theme

// Says how many conversations the user chose to keep off the account, with the way to add
// them after all.
Item {
    id: root

    required property int count
    signal backUp

    implicitHeight: row.implicitHeight + 40

    Rectangle {
        anchors.fill: parent
        radius: 16
        color: Theme.withAlpha(Theme.paper, 0.78)
        border.color: Theme.rule
        border.width: 1
    }
    RowLayout {
        id: row
        x: 20
        y: 20
        width: root.width - 40
        spacing: 16

        Icon {
            Layout.alignment: Qt.AlignTop
            symbol: "externaldrive.badge.person.crop"
            size: 22
            color: Theme.information
        }
        ColumnLayout {
            Layout.alignment: Qt.AlignTop
            Layout.fillWidth: true
            spacing: 4
            ReadableText {
                objectName: "keptLocalLine"
                Layout.fillWidth: true
                text: HistoryTexts.keptLocalLine(root.count)
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.interfaceFont(15, Font.DemiBold)
                color: Theme.ink
            }
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("You chose to keep these off your account. You can add them to your history whenever you want.")
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
        }
        SecondaryButton {
            objectName: "addToHistoryButton"
            Layout.alignment: Qt.AlignTop
            text: qsTr("Add to my history")
            onClicked: root.backUp()
        }
    }
}
