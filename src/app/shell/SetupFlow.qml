import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// The first-run sheet: one step card at a time, chosen from the view model's state.
Item {
    id: root

    required property ShellSession model
    property bool didCopyAddress: false
    signal dismiss

    Connections {
        target: root.model
        function onSignInAddressChanged() {
            root.didCopyAddress = false
        }
    }

    // Close also ends an open browser sign-in attempt.
    function close() {
        root.model.cancelAppleAuthorization()
        root.dismiss()
    }

    implicitWidth: 680
    // The padded column: the sheet is made this tall when the window has the room.
    implicitHeight: column.implicitHeight + 64

    SetupPresenter {
        id: presenter
        recordingAgreementAccepted: root.model.recordingAgreementAccepted
        configurationAvailable: root.model.configurationAvailable
        isSignedIn: root.model.isSignedIn
        isBusy: root.model.isBusy
        isAppleAuthorizationActive: root.model.isAppleAuthorizationActive
        hasError: root.model.errorMessage.length > 0
        hasSignInAddress: root.model.signInAddress.length > 0
    }

    // The sheet keeps its padding of 32 all round; a column shorter than the sheet sits in the
    // middle, and one taller than the window allows scrolls inside the padding. The scrolled
    // area reaches `ringRoom` into the padding, so that the focus ring round a control at the
    // column's edge is drawn whole.
    readonly property real ringRoom: 6
    Flickable {
        id: scroller
        objectName: "setupScroll"
        x: 32 - root.ringRoom
        y: 32 - root.ringRoom
        width: root.width - 2 * x
        height: root.height - 2 * y
        contentWidth: width
        contentHeight: Math.max(height, column.implicitHeight + 2 * root.ringRoom)
        interactive: column.implicitHeight + 2 * root.ringRoom > height
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        ColumnLayout {
            id: column
            objectName: "setupColumn"
            x: root.ringRoom
            width: scroller.width - 2 * root.ringRoom
            y: Math.max(root.ringRoom, (scroller.height - implicitHeight) / 2)
            spacing: 24

            RowLayout {
                Layout.fillWidth: true
                spacing: 12
                CorvaneBrandMark {
                    size: 48
                    isDecorative: true
                }
                ColumnLayout {
                    spacing: 4
                    ReadableText {
                        text: qsTr("Welcome to Corvane")
                        font: Theme.display(32, Font.Medium)
                        color: Theme.ink
                    }
                    ReadableText {
                        text: qsTr("A thoughtful space for meaningful conversations")
                        font: Theme.small
                        color: Theme.muted
                    }
                }
                Item {
                    Layout.fillWidth: true
                }
                SecondaryButton {
                    objectName: "setupCloseButton"
                    text: qsTr("Close")
                    onClicked: root.close()
                }
            }
            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: 1
                color: Theme.rule
            }
            // What the deletion of the account before came to, above what comes next.
            Hint {
                objectName: "setupDeletionNotice"
                visible: root.model.deletionNotice.length > 0
                symbol: "checkmark.circle.fill"
                tint: Theme.positive
                textFont: Theme.body
                text: root.model.deletionNotice
            }
            // The card with its button and hint, spaced closer than the sheet's rows.
            ColumnLayout {
                objectName: "setupStep"
                Layout.fillWidth: true
                spacing: 16
                SetupCard {
                    objectName: "setupCard"
                    Layout.fillWidth: true
                    symbol: presenter.symbol
                    title: presenter.title
                    detail: presenter.detail
                }
                PrimaryButton {
                    objectName: "agreeButton"
                    visible: presenter.card === SetupPresenter.Consent
                    text: qsTr("Both people agree")
                    onClicked: root.model.acceptRecordingAgreement()
                }
                Hint {
                    visible: presenter.card === SetupPresenter.Consent
                    symbol: "macbook"
                    text: qsTr("This acknowledgement is stored only on this computer. Corvane does not receive a consent receipt.")
                }
                // The label sits centred in a frame of 208 by 32 inside the button's padding.
                PrimaryButton {
                    objectName: "signInButton"
                    visible: presenter.card === SetupPresenter.SignIn
                    enabled: presenter.signInEnabled
                    implicitWidth: 208 + leftPadding + rightPadding
                    implicitHeight: 44
                    text: qsTr("Sign in with Apple")
                    onClicked: root.model.beginAppleAuthorization()
                }
                Hint {
                    objectName: "browserHint"
                    visible: presenter.showsBrowserHint
                    Layout.leftMargin: 4
                    symbol: "arrow.up.right.square"
                    text: qsTr("Apple opens in your browser. You’ll return here automatically.")
                }
                // When the browser could not be opened: the sign-in page, to open by hand.
                AddressToCopy {
                    objectName: "signInAddressRow"
                    visible: presenter.card === SetupPresenter.SignIn && root.model.signInAddress.length > 0
                    Layout.fillWidth: true
                    address: root.model.signInAddress
                    addressName: qsTr("Sign-in address")
                    copied: root.didCopyAddress
                    onCopy: root.didCopyAddress = root.model.copySignInAddress()
                }
            }
            PrimaryButton {
                objectName: "enterRoomButton"
                visible: presenter.card === SetupPresenter.Ready
                text: qsTr("Enter the room")
                onClicked: root.dismiss()
            }
            Hint {
                objectName: "setupError"
                announced: true
                visible: root.model.errorMessage.length > 0
                symbol: "exclamationmark.triangle.fill"
                tint: Theme.attention
                textFont: Theme.body
                text: root.model.errorMessage
            }
            ReadableText {
                Layout.fillWidth: true
                text: qsTr("Audio is never stored. Transcripts and reviews are stored encrypted for your account history; access is tightly restricted and nobody at Corvane reads conversations as part of normal work. Deepgram and Anthropic process content to provide the service. Deepgram requests opt out of model improvement. Anthropic’s standard API policy may retain inputs and outputs for up to 30 days.")
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
        }
    }
}
