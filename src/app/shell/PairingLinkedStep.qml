import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// The account is linked: since when, with how many people, and the way to unlink.
Column {
    id: root

    required property AccountSession account
    signal unlinkRequested

    spacing: 16

    RowLayout {
        width: parent.width
        spacing: 16
        Icon {
            Layout.alignment: Qt.AlignTop
            symbol: "person.2.fill"
            size: 24
            color: Theme.positive
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("You and your partner")
                wrapMode: Text.Wrap
                font: Theme.display(24, Font.Medium)
                color: Theme.ink
            }
            ReadableText {
                objectName: "linkedSince"
                Layout.fillWidth: true
                text: root.account.linkedSince
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
        }
        SecondaryButton {
            objectName: "unlinkButton"
            Layout.alignment: Qt.AlignTop
            text: qsTr("Unlink")
            enabled: !root.account.isPairingBusy
            onClicked: root.unlinkRequested()
        }
    }
    ReadableText {
        width: parent.width
        text: qsTr("New conversations go to your shared history. Either of you can record on your own computer, and you both see the result.")
        wrapMode: Text.Wrap
        lineHeightMode: Text.FixedHeight
        lineHeight: font.pixelSize + 6
        font: Theme.small
        color: Theme.muted
    }
}
