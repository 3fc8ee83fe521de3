import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// Whether this computer is signed in to a private account, which computer it is, and how
// privacy is kept; signed out, the way back to the conversation room.
EditorialCard {
    id: root

    required property AccountSession account
    signal goToConversation
    readonly property alias goToConversationButton: conversationButton

    RowLayout {
        width: parent.width
        spacing: 8
        Icon {
            objectName: "identitySymbol"
            symbol: root.account.isSignedIn ? "person.crop.circle.badge.checkmark"
                                            : "person.crop.circle.badge.questionmark"
            size: 28
            color: Theme.positive
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            ReadableText {
                objectName: "identityTitle"
                Layout.fillWidth: true
                text: root.account.isSignedIn ? qsTr("Private Corvane account") : qsTr("Not signed in")
                wrapMode: Text.Wrap
                font: Theme.display(24, Font.Medium)
                color: Theme.ink
            }
            ReadableText {
                objectName: "signInHint"
                visible: !root.account.isSignedIn
                Layout.fillWidth: true
                text: qsTr("Sign in from Conversation when you are ready.")
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
        }
    }
    // Signed out by the deletion asked on this page: why it did not end here.
    Hint {
        objectName: "identityDeletionNote"
        announced: true
        visible: !root.account.isSignedIn && root.account.deletionNote.length > 0
        width: parent.width
        symbol: "exclamationmark.triangle.fill"
        tint: Theme.attention
        text: root.account.deletionNote
    }
    Divider {
        visible: root.account.isSignedIn
        width: parent.width
    }
    Hint {
        objectName: "deviceLabel"
        visible: root.account.isSignedIn
        width: parent.width
        symbol: "desktopcomputer"
        text: root.account.deviceLabel
    }
    Divider {
        visible: root.account.isSignedIn
        width: parent.width
    }
    RowLayout {
        visible: root.account.isSignedIn
        width: parent.width
        spacing: 12
        Icon {
            Layout.alignment: Qt.AlignTop
            symbol: "lock.macwindow"
            size: 18
            color: Theme.positive
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("Transcripts are encrypted, here and in your account")
                wrapMode: Text.Wrap
                font: Theme.interfaceFont(14, Font.DemiBold)
                color: Theme.ink
            }
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("The recording is deleted after processing, and audio is never stored. Deleting a conversation removes it from your account too.")
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
        }
    }
    PrimaryButton {
        id: conversationButton
        objectName: "goToConversationButton"
        visible: !root.account.isSignedIn
        text: qsTr("Go to Conversation")
        symbol: "arrow.right"
        onClicked: root.goToConversation()
    }
}
