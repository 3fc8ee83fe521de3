import QtQuick
import QtQuick.Layouts

// Asks before a step that cannot be taken back: Cancel closes it, the destructive button
// closes it and confirms. It opens on Cancel every time, so that Return never confirms what the
// person has not chosen: a popup otherwise opens on whichever of its buttons had the keyboard
// last, the destructive one after a confirmation.
ThemedPopup {
    id: root

    property string title
    property string message
    property string confirmText
    signal confirmed

    accessibleName: root.title
    onAboutToShow: cancel.focus = true

    contentItem: ColumnLayout {
        spacing: 16
        ReadableText {
            Layout.fillWidth: true
            text: root.title
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.display(22, Font.Medium)
            color: Theme.ink
        }
        ReadableText {
            Layout.fillWidth: true
            text: root.message
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.body
            color: Theme.ink
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 12
            SecondaryButton {
                id: cancel
                objectName: root.objectName + "Cancel"
                text: qsTr("Cancel")
                onClicked: root.close()
            }
            DangerButton {
                objectName: root.objectName + "Confirm"
                text: root.confirmText
                implicitHeight: 44
                leftPadding: 20
                rightPadding: 20
                font: Theme.interfaceFont(16, Font.DemiBold)
                // Confirmed before it closes: a page that lets go of the dialog's subject when
                // it closes has acted on it by then.
                onClicked: {
                    root.confirmed()
                    root.close()
                }
            }
        }
    }
}
