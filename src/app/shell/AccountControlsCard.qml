import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// Signing this computer out, and deleting the account (which asks first).
EditorialCard {
    id: root

    property bool isBusy: false
    // Why the deletion asked here did not end the account, under the button that asked.
    property string deletionNote
    signal signOut
    signal deleteRequested
    readonly property alias signOutButton: signOutButton
    readonly property alias deleteButton: deleteButton

    TrackedLabel {
        caption: "account controls"
    }
    RowLayout {
        width: parent.width
        spacing: 24
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 8
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("Sign out of this computer")
                wrapMode: Text.Wrap
                font: Theme.interfaceFont(16, Font.DemiBold)
                color: Theme.ink
            }
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("Keeps your encrypted local history, but revokes this computer from the account.")
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
        }
        SecondaryButton {
            id: signOutButton
            objectName: "signOutButton"
            text: qsTr("Sign out")
            onClicked: root.signOut()
        }
    }
    Divider {
        width: parent.width
    }
    RowLayout {
        width: parent.width
        spacing: 24
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 8
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("Delete your account")
                wrapMode: Text.Wrap
                font: Theme.interfaceFont(16, Font.DemiBold)
                color: Theme.ink
            }
            ReadableText {
                objectName: "deleteCaption"
                Layout.fillWidth: true
                text: qsTr("Removes the account metadata and this account’s encrypted transcripts and reviews on this computer.")
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
        }
        DangerButton {
            id: deleteButton
            objectName: "deleteAccountButton"
            text: qsTr("Delete account")
            enabled: !root.isBusy
            onClicked: root.deleteRequested()
        }
    }
    Hint {
        objectName: "deletionNote"
        announced: true
        visible: root.deletionNote.length > 0
        width: parent.width
        symbol: "exclamationmark.triangle.fill"
        tint: Theme.attention
        text: root.deletionNote
    }
}
