import QtQuick
import Lumora.Shell
import Lumora.Theme

// Linking with a partner: the step the account is at, its actions, the last failure, and the
// conversations kept from earlier links. Holds only what is being typed and whether the
// fresh code was copied.
EditorialCard {
    id: root

    required property AccountSession account
    property bool isEnteringCode: false
    property string codeDraft: ""
    property bool didCopyCode: false
    // A new code, or the code going away, shows the copy button's first title again.
    readonly property string shownCode: root.account.inviteCode

    onShownCodeChanged: root.didCopyCode = false
    // The session reads the pairing state each time the section comes on screen, and while it
    // shows a code waiting for the partner. As the window goes, the session may go first.
    function tellShown(shown: bool) {
        if (root.account)
            root.account.setPairingShown(shown)
    }
    onVisibleChanged: root.tellShown(root.visible)
    Component.onCompleted: root.tellShown(root.visible)
    Component.onDestruction: root.tellShown(false)

    function redeem() {
        root.account.redeem(root.codeDraft)
    }
    function leaveCodeEntry() {
        root.isEnteringCode = false
        root.codeDraft = ""
    }

    Connections {
        target: root.account
        function onRedeemFinished(redeemed) {
            if (redeemed)
                root.leaveCodeEntry()
        }
    }

    TrackedLabel {
        caption: "your partner"
    }
    PairingLinkedStep {
        objectName: "pairingLinked"
        visible: root.account.pairingStep === AccountSession.Linked
        width: parent.width
        account: root.account
        onUnlinkRequested: unlinkConfirmation.open()
    }
    PairingConfirmationStep {
        objectName: "pairingConfirmation"
        visible: root.account.pairingStep === AccountSession.Confirmation
        width: parent.width
        account: root.account
        onCancelled: {
            root.leaveCodeEntry()
            root.account.cancelConfirmation()
        }
    }
    PairingFreshCodeStep {
        objectName: "pairingFreshCode"
        visible: root.account.pairingStep === AccountSession.FreshCode
        width: parent.width
        account: root.account
        didCopyCode: root.didCopyCode
        onCopied: root.didCopyCode = true
        onDone: {
            root.didCopyCode = false
            root.account.dismissInvite()
        }
    }
    PairingWaitingStep {
        objectName: "pairingWaiting"
        visible: root.account.pairingStep === AccountSession.Waiting
        width: parent.width
        account: root.account
    }
    PairingUnlinkedStep {
        objectName: "pairingUnlinked"
        visible: root.account.pairingStep === AccountSession.Unlinked
        width: parent.width
        account: root.account
        isEnteringCode: root.isEnteringCode
        codeDraft: root.codeDraft
        onStartCodeEntry: root.isEnteringCode = true
        onCodeEdited: text => root.codeDraft = text
        onRedeemRequested: root.redeem()
        onLeaveCodeEntry: root.leaveCodeEntry()
    }
    Hint {
        objectName: "pairingError"
        announced: true
        visible: root.account.pairingError.length > 0
        width: parent.width
        symbol: "exclamationmark.circle"
        text: root.account.pairingError
        tint: Theme.attention
    }
    Divider {
        visible: root.account.earlierHistoryNote.length > 0
        width: parent.width
    }
    Hint {
        objectName: "earlierHistoryNote"
        visible: root.account.earlierHistoryNote.length > 0
        width: parent.width
        symbol: "book.closed"
        text: root.account.earlierHistoryNote
    }
    ConfirmationDialog {
        id: unlinkConfirmation
        objectName: "unlinkConfirmation"
        title: qsTr("Unlink from your partner?")
        message: qsTr("You stop recording into a shared history. You both keep every conversation you have already recorded, and you can each still read them. To link again, one of you makes a new code.")
        confirmText: qsTr("Unlink")
        onConfirmed: root.account.unlink()
    }
}
