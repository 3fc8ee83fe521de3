import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// This user's code is out: waiting for the partner to enter it, or for their decision.
Column {
    id: root

    required property AccountSession account

    spacing: 16

    ReadableText {
        objectName: "waitingTitle"
        width: parent.width
        text: root.account.isPartnerDeciding ? qsTr("Your partner is deciding") : qsTr("Waiting for your partner")
        wrapMode: Text.Wrap
        font: Theme.display(24, Font.Medium)
        color: Theme.ink
    }
    ReadableText {
        objectName: "waitingDetail"
        width: parent.width
        text: root.account.waitingDetail
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        lineHeightMode: Text.FixedHeight
        lineHeight: font.pixelSize + 6
        font: Theme.small
        color: Theme.muted
    }
    RowLayout {
        spacing: 12
        SecondaryButton {
            objectName: "newCodeButton"
            text: qsTr("Make a new code")
            enabled: !root.account.isPairingBusy
            onClicked: root.account.createInvite()
        }
        Spinner {
            visible: root.account.isPairingBusy
            running: visible
        }
    }
    ReadableText {
        width: parent.width
        text: qsTr("Making a new code retires the old one.")
        wrapMode: Text.Wrap
        font: Theme.small
        color: Theme.muted
    }
}
