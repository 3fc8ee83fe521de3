import QtQuick
import QtQuick.Layouts
import Lumora.Theme

// Says that the account's list could not be read, so what shows is the list read before, with
// the way to try again.
Item {
    id: root

    signal retry

    implicitHeight: row.implicitHeight + 40

    Rectangle {
        anchors.fill: parent
        radius: 16
        color: Theme.withAlpha(Theme.paper, 0.78)
        border.color: Theme.withAlpha(Theme.attention, 0.4)
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
            symbol: "exclamationmark.circle"
            size: 22
            color: Theme.attention
        }
        ColumnLayout {
            Layout.alignment: Qt.AlignTop
            Layout.fillWidth: true
            spacing: 4
            ReadableText {
                objectName: root.objectName + ":line"
                Layout.fillWidth: true
                text: qsTr("Your history could not be refreshed")
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.interfaceFont(15, Font.DemiBold)
                color: Theme.ink
            }
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("What shows here is your history as it was last read from your account. Check your connection and try again.")
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
        }
        SecondaryButton {
            objectName: root.objectName + ":retry"
            Layout.alignment: Qt.AlignTop
            text: qsTr("Try again")
            onClicked: root.retry()
        }
    }
}
