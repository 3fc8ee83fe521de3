import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// Asked when the user quits during a conversation: finish and save it first, discard it, or
// keep going (also Escape). The saving choice has the keyboard's focus, with its ring: it loses
// nothing.
ThemedPopup {
    id: root

    required property QuitQuestion question
    signal saveChosen
    signal discardChosen

    width: 520
    accessibleName: root.question.title
    onOpened: saveButton.forceActiveFocus(Qt.TabFocusReason)

    contentItem: ColumnLayout {
        spacing: 16
        ReadableText {
            objectName: "quitTitle"
            Layout.fillWidth: true
            text: root.question.title
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.display(22, Font.Medium)
            color: Theme.ink
        }
        ReadableText {
            objectName: "quitMessage"
            Layout.fillWidth: true
            text: root.question.message
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.body
            color: Theme.ink
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 12
            SecondaryButton {
                objectName: "keepGoingButton"
                text: qsTr("Keep going")
                Accessible.name: text
                onClicked: root.close()
            }
            Item {
                Layout.fillWidth: true
            }
            DangerButton {
                objectName: "discardButton"
                text: qsTr("Discard")
                Accessible.name: text
                implicitHeight: 44
                leftPadding: 20
                rightPadding: 20
                font: Theme.interfaceFont(16, Font.DemiBold)
                onClicked: {
                    root.close()
                    root.discardChosen()
                }
            }
            PrimaryButton {
                id: saveButton
                objectName: "saveAndQuitButton"
                text: root.question.saveText
                Accessible.name: text
                onClicked: {
                    root.close()
                    root.saveChosen()
                }
            }
        }
    }
}
