import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// Not linked: inviting the partner, or entering the partner's code.
Column {
    id: root

    required property AccountSession account
    // The section keeps the code being typed and whether it is being typed.
    required property bool isEnteringCode
    required property string codeDraft
    signal startCodeEntry
    signal codeEdited(string text)
    signal redeemRequested
    signal leaveCodeEntry

    spacing: 16

    ReadableText {
        width: parent.width
        text: qsTr("Share your history with your partner")
        wrapMode: Text.Wrap
        font: Theme.display(24, Font.Medium)
        color: Theme.ink
    }
    ReadableText {
        width: parent.width
        text: qsTr("Link with your partner and you both see the same conversations, each from your own computer.")
        wrapMode: Text.Wrap
        lineHeightMode: Text.FixedHeight
        lineHeight: font.pixelSize + 6
        font: Theme.small
        color: Theme.muted
    }
    RowLayout {
        visible: !root.isEnteringCode
        spacing: 12
        PrimaryButton {
            objectName: "inviteButton"
            text: qsTr("Invite your partner")
            enabled: !root.account.isPairingBusy
            onClicked: root.account.createInvite()
        }
        SecondaryButton {
            objectName: "haveCodeButton"
            text: qsTr("I have a code")
            enabled: !root.account.isPairingBusy
            onClicked: {
                root.account.clearPairingError()
                root.startCodeEntry()
            }
        }
        Spinner {
            visible: root.account.isPairingBusy
            running: visible
        }
    }
    ReadableText {
        visible: root.isEnteringCode
        width: parent.width
        text: qsTr("Enter your partner's code")
        font: Theme.interfaceFont(15, Font.DemiBold)
        color: Theme.ink
    }
    RowLayout {
        visible: root.isEnteringCode
        width: parent.width
        spacing: 12
        // Shown in capitals, kept as typed: the view model's service reads the code.
        TextField {
            id: codeField
            objectName: "codeField"
            Accessible.ignored: !codeField.visible
            Layout.preferredWidth: 280
            implicitHeight: 44
            leftPadding: 16
            rightPadding: 16
            placeholderText: "XXXX-XXXX-XXXX"
            placeholderTextColor: Theme.withAlpha(Theme.muted, 0.7)
            text: root.codeDraft
            font: {
                const face = Theme.tabular(15)
                face.capitalization = Font.AllUppercase
                return face
            }
            color: Theme.ink
            Accessible.name: qsTr("Your partner's code")
            background: Rectangle {
                radius: 12
                color: Theme.paper
                border.color: Theme.rule
                border.width: 1
            }
            onTextEdited: root.codeEdited(text)
            onAccepted: root.redeemRequested()
        }
        PrimaryButton {
            objectName: "continueButton"
            text: qsTr("Continue")
            enabled: root.account.isCodeEntered(root.codeDraft) && !root.account.isPairingBusy
            onClicked: root.redeemRequested()
        }
        SecondaryButton {
            objectName: "cancelCodeButton"
            text: qsTr("Cancel")
            enabled: !root.account.isPairingBusy
            onClicked: {
                root.leaveCodeEntry()
                root.account.clearPairingError()
            }
        }
        Item {
            Layout.fillWidth: true
        }
    }
    ReadableText {
        visible: root.isEnteringCode
        width: parent.width
        text: qsTr("Nothing is shared until you have seen what joining opens up and agreed to it.")
        wrapMode: Text.Wrap
        font: Theme.small
        color: Theme.muted
    }
}
