import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// What a check for updates asked for from the menu found: the sentence of the update checker
// and, when a newer release exists, the way to its download page.
ThemedPopup {
    id: root

    required property UpdateChecker updates
    readonly property bool offersDownload: root.updates.availableVersion.length > 0 && !root.updates.isChecking

    accessibleName: qsTr("Corvane updates")

    contentItem: ColumnLayout {
        spacing: 16
        RowLayout {
            Layout.fillWidth: true
            spacing: 12
            Icon {
                symbol: "arrow.triangle.2.circlepath.circle.fill"
                size: 28
                color: Theme.information
            }
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("Corvane updates")
                wrapMode: Text.Wrap
                font: Theme.display(22, Font.Medium)
                color: Theme.ink
            }
        }
        ReadableText {
            objectName: "updateDialogMessage"
            Layout.fillWidth: true
            text: root.updates.message
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.body
            color: Theme.ink
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 12
            SecondaryButton {
                objectName: "updateDialogClose"
                text: root.offersDownload ? qsTr("Later") : qsTr("OK")
                onClicked: root.close()
            }
            PrimaryButton {
                objectName: "updateDialogDownload"
                visible: root.offersDownload
                text: qsTr("Open Download Page")
                onClicked: {
                    root.close()
                    root.updates.openDownloadPage()
                }
            }
        }
    }
}
