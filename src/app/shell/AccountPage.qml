import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// The Account section: who is signed in on this computer and which version runs; while signed
// in, the partner, the weekly reminder and the account controls; signed out, what an account
// would store.
Item {
    id: root

    required property AccountSession account
    required property UpdateChecker updates
    signal goToConversation
    // The page, which the window gives the scrolling keys no control took.
    readonly property alias scroller: page

    WindowBackground {
        anchors.fill: parent
    }
    // Signed out, the keyboard on "Sign out" or "Delete account", which go, moves on to the way
    // to sign in, under the note that says why the deletion did not end here.
    FocusHandOff {
        from: controls.signOutButton
        to: identity.goToConversationButton
    }
    FocusHandOff {
        from: controls.deleteButton
        to: identity.goToConversationButton
    }
    ScrollablePage {
        id: page
        objectName: "accountScroll"
        anchors.fill: parent

        PageHeading {
            width: parent.width
            title: "Account"
            subtitle: "identity, privacy and updates"
        }
        RowLayout {
            width: parent.width
            spacing: 16
            IdentityCard {
                id: identity
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                Layout.alignment: Qt.AlignTop
                account: root.account
                onGoToConversation: root.goToConversation()
            }
            UpdatesCard {
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                Layout.alignment: Qt.AlignTop
                version: root.account.version
                build: root.account.build
                updates: root.updates
            }
        }
        EditorialCard {
            objectName: "storageFull"
            visible: root.account.isSignedIn && root.account.storageNote.length > 0
            width: parent.width
            TrackedLabel {
                caption: "account storage"
            }
            ReadableText {
                objectName: "storageNote"
                width: parent.width
                text: root.account.storageNote
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.body
                color: Theme.ink
            }
        }
        PartnerPairingSection {
            objectName: "pairingSection"
            visible: root.account.isSignedIn
            width: parent.width
            account: root.account
        }
        CheckinReminderSection {
            objectName: "reminderSection"
            visible: root.account.isSignedIn
            width: parent.width
            account: root.account
        }
        AccountControlsCard {
            id: controls
            objectName: "accountControls"
            visible: root.account.isSignedIn
            width: parent.width
            isBusy: root.account.isBusy
            deletionNote: root.account.deletionNote
            onSignOut: root.account.signOut()
            onDeleteRequested: deleteConfirmation.open()
        }
        AccountStoresCard {
            objectName: "accountStores"
            visible: !root.account.isSignedIn
            width: parent.width
        }
    }
    ConfirmationDialog {
        id: deleteConfirmation
        objectName: "deleteConfirmation"
        title: qsTr("Delete your Corvane account?")
        message: qsTr("Deleting removes your account metadata and permanently removes this account’s encrypted transcripts and reviews stored on this computer. This cannot be undone.")
        confirmText: qsTr("Delete Account")
        // The keyboard is back on "Delete account" before the deletion makes it busy: it stays
        // there while the deletion runs, and is there again beside what the deletion came to.
        onConfirmed: {
            controls.deleteButton.forceActiveFocus()
            root.account.deleteAccount()
        }
    }
}
