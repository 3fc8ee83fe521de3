import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// A partner's code was entered: what joining would share, and the choice to link.
Column {
    id: root

    required property AccountSession account
    signal cancelled

    spacing: 16

    ReadableText {
        width: parent.width
        text: qsTr("Join your partner's history")
        wrapMode: Text.Wrap
        font: Theme.display(24, Font.Medium)
        color: Theme.ink
    }
    ReadableText {
        objectName: "sharedHistorySentence"
        width: parent.width
        text: root.account.sharedHistorySentence
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        lineHeightMode: Text.FixedHeight
        lineHeight: font.pixelSize + 6
        font: Theme.body
        color: Theme.ink
    }
    ReadableText {
        width: parent.width
        text: qsTr("Your earlier conversations stay yours to read.")
        wrapMode: Text.Wrap
        font: Theme.small
        color: Theme.muted
    }
    RowLayout {
        spacing: 12
        PrimaryButton {
            objectName: "confirmPairingButton"
            text: qsTr("Link with my partner")
            enabled: !root.account.isPairingBusy
            onClicked: root.account.confirmPairing()
        }
        SecondaryButton {
            objectName: "cancelConfirmationButton"
            text: qsTr("Cancel")
            enabled: !root.account.isPairingBusy
            onClicked: root.cancelled()
        }
        Spinner {
            visible: root.account.isPairingBusy
            running: visible
        }
    }
    ReadableText {
        objectName: "confirmationDeadline"
        width: parent.width
        text: root.account.confirmationDeadline
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: Theme.small
        color: Theme.muted
    }
}
