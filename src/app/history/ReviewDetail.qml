pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.History
import Lumora.Rooms
import Lumora.Theme

// The review of one past conversation or check-in, over the window: when it was and how long,
// then on the left the shape of it and what the observer saw (for a check-in how it went),
// on the right the arc, the transcript and what became of the recording and the copies.
// Done or Escape closes it; deleting asks first, in the words of what deleting will do.
Popup {
    id: root

    required property HistoryModel model
    readonly property ReviewSheet sheet: root.model.reviewSheet

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Math.max(900, Math.min(parent ? parent.width - 40 : 900, 1080))
    height: Math.max(648, Math.min(parent ? parent.height - 40 : 648, 860))
    padding: 0
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    onClosed: root.model.closeReview()

    DialogName {
        popup: root
        name: root.sheet.title
    }

    Connections {
        target: root.sheet
        function onReviewChanged() {
            if (root.sheet.isOpen) {
                review.contentY = 0
                transcript.current = 0
                root.open()
            } else {
                root.close()
            }
        }
        // What was offered on the conversation goes with it: a question about deleting it is
        // withdrawn, and a keyboard that was on one of its buttons lands on Done rather than
        // nowhere.
        function onGoneChanged() {
            if (!root.sheet.isGone)
                return
            reviewDeleteConfirmation.close()
            refocusOnceHidden.restart()
        }
    }
    // Once the buttons are hidden: a hidden item that had the keyboard has handed it to the
    // sheet itself, where Tab would start over from the top. Done shows its ring, as the
    // keyboard's place has moved without the person moving it.
    Timer {
        id: refocusOnceHidden
        interval: 0
        onTriggered: {
            const holder = root.contentItem.Window.activeFocusItem
            if (root.opened && (!holder || !holder.visible || holder === root.contentItem.parent))
                doneButton.forceActiveFocus(Qt.TabFocusReason)
        }
    }

    Overlay.modal: Veil {}
    background: Rectangle {
        radius: 12
        color: Theme.ivory
        border.color: Theme.rule
    }

    // The review, with a failure of what was done in it floating over its top. The scrolling
    // keys that no control took (the keyboard is on a button of the header) scroll the review.
    // Under the question about deleting it, a screen reader meets none of it.
    contentItem: CoveredContent {
        dialogs: Overlay.overlay
        Keys.onPressed: event => {
            event.accepted = review.scrollByKey(event.key, event.modifiers)
        }
        ColumnLayout {
            anchors.fill: parent
            spacing: 0

            RowLayout {
                Layout.fillWidth: true
                Layout.margins: 24
                spacing: 12
                ColumnLayout {
                    spacing: 4
                    ReadableText {
                        objectName: "reviewTitle"
                        text: root.sheet.title
                        textFormat: Text.PlainText
                        font: Theme.display(28, Font.DemiBold)
                        color: Theme.ink
                    }
                    ReadableText {
                        objectName: "reviewSubtitle"
                        text: root.sheet.subtitle
                        textFormat: Text.PlainText
                        font: Theme.small
                        color: Theme.muted
                    }
                    // Deleted meanwhile, or hidden on another computer: nothing is offered on it.
                    ReadableText {
                        objectName: "reviewGoneNote"
                        visible: root.sheet.isGone
                        text: root.sheet.goneNote
                        textFormat: Text.PlainText
                        font: Theme.interfaceFont(13, Font.DemiBold)
                        color: Theme.attention
                    }
                }
                Item {
                    Layout.fillWidth: true
                }
                DangerButton {
                    objectName: "reviewDeleteButton"
                    visible: !root.sheet.isGone
                    text: root.sheet.deletion.button
                    implicitHeight: 44
                    leftPadding: 20
                    rightPadding: 20
                    font: Theme.interfaceFont(16, Font.DemiBold)
                    onClicked: reviewDeleteConfirmation.open()
                }
                SecondaryButton {
                    id: doneButton
                    objectName: "doneButton"
                    text: qsTr("Done")
                    onClicked: root.close()
                }
            }
            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: 1
                color: Theme.rule
            }
            ScrollablePage {
                id: review
                objectName: "reviewScroll"
                Layout.fillWidth: true
                Layout.fillHeight: true
                horizontalPadding: 24
                verticalPadding: 24

                RowLayout {
                    width: parent.width
                    spacing: 20

                    ColumnLayout {
                        Layout.alignment: Qt.AlignTop
                        Layout.preferredWidth: 336
                        Layout.maximumWidth: 336
                        spacing: 16

                        EditorialCard {
                            objectName: "howItWentCard"
                            visible: root.sheet.isCheckin
                            Layout.fillWidth: true
                            CheckinBadge {
                                label: root.sheet.checkinLabel
                            }
                            TrackedLabel {
                                caption: "how it went"
                            }
                            ReadableText {
                                objectName: "checkinSummary"
                                width: parent.width
                                text: root.sheet.summary
                                textFormat: Text.PlainText
                                wrapMode: Text.Wrap
                                lineHeightMode: Text.FixedHeight
                                lineHeight: 18 * 1.3 + 3
                                font: Theme.display(18, Font.Normal)
                                color: Theme.ink
                            }
                        }
                        EditorialCard {
                            objectName: "floorCard"
                            visible: !root.sheet.isCheckin
                            Layout.fillWidth: true
                            TrackedLabel {
                                caption: "the floor"
                            }
                            FloorBar {
                                width: parent.width
                                segments: root.sheet.floor
                            }
                        }
                        EditorialCard {
                            objectName: "shapeCard"
                            visible: !root.sheet.isCheckin
                            Layout.fillWidth: true
                            TrackedLabel {
                                caption: "the shape of it"
                            }
                            Repeater {
                                model: root.sheet.shape
                                delegate: RowLayout {
                                    id: shapeRow
                                    required property shapeRow modelData
                                    width: parent ? parent.width : 0
                                    spacing: 12
                                    ReadableText {
                                        Layout.fillWidth: true
                                        text: shapeRow.modelData.speaker
                                        textFormat: Text.PlainText
                                        font: Theme.small
                                        color: shapeRow.modelData.isLeftSeat ? Theme.positive : Theme.information
                                    }
                                    ReadableText {
                                        text: shapeRow.modelData.turns
                                        textFormat: Text.PlainText
                                        font: Theme.small
                                        color: Theme.ink
                                    }
                                    ReadableText {
                                        text: shapeRow.modelData.longest
                                        textFormat: Text.PlainText
                                        font: Theme.small
                                        color: Theme.ink
                                    }
                                }
                            }
                        }
                        EditorialCard {
                            objectName: "observerCard"
                            visible: !root.sheet.isCheckin
                            Layout.fillWidth: true
                            TrackedLabel {
                                caption: "what the observer saw"
                            }
                            RowLayout {
                                width: parent.width
                                spacing: 12
                                Tally {
                                    objectName: "warmTally"
                                    Layout.fillWidth: true
                                    Layout.preferredWidth: 1
                                    value: root.sheet.warm
                                    name: qsTr("warm")
                                    tint: Theme.positive
                                }
                                Tally {
                                    objectName: "hardTally"
                                    Layout.fillWidth: true
                                    Layout.preferredWidth: 1
                                    value: root.sheet.hard
                                    name: qsTr("hard")
                                    tint: Theme.attention
                                }
                            }
                            Rectangle {
                                objectName: "startupLine"
                                visible: root.sheet.startup.length > 0
                                width: parent.width
                                height: startupText.implicitHeight + 24
                                radius: 8
                                color: Theme.withAlpha(root.sheet.startupInTheCycle ? Theme.attention : Theme.positive, 0.07)
                                ReadableText {
                                    id: startupText
                                    x: 12
                                    y: 12
                                    width: parent.width - 24
                                    text: root.sheet.startup
                                    textFormat: Text.PlainText
                                    wrapMode: Text.Wrap
                                    font: Theme.interfaceFont(12, Font.DemiBold)
                                    color: root.sheet.startupInTheCycle ? Theme.attention : Theme.positive
                                }
                            }
                            ReadableText {
                                objectName: "reviewSummary"
                                width: parent.width
                                text: root.sheet.summary
                                textFormat: Text.PlainText
                                wrapMode: Text.Wrap
                                font: Theme.display(16, Font.Normal)
                                color: Theme.ink
                            }
                            Column {
                                width: parent.width
                                spacing: 8
                                Repeater {
                                    model: root.sheet.definitions
                                    delegate: BehaviorDefinition {
                                        required property definitionRow modelData
                                        objectName: "definitionRow"
                                        width: parent ? parent.width : 0
                                        row: modelData
                                    }
                                }
                            }
                        }
                    }

                    // The rest of the row, whatever its cards would like: a card's own width
                    // follows the width it was given, and asked here it made each new width
                    // start a round of polishes that never settled (and squeezed the left column).
                    ColumnLayout {
                        Layout.alignment: Qt.AlignTop
                        Layout.fillWidth: true
                        Layout.preferredWidth: 0
                        spacing: 16

                        EditorialCard {
                            objectName: "arcCard"
                            visible: !root.sheet.isCheckin
                            Layout.fillWidth: true
                            TrackedLabel {
                                caption: "the conversation, drawn"
                            }
                            EmotionalArcChart {
                                objectName: "reviewArc"
                                width: parent.width
                                height: 152
                                moments: root.sheet.moments
                                duration: root.sheet.duration
                                style: EmotionalArcChart.Review
                                Accessible.role: Accessible.Chart
                                Accessible.name: description
                            }
                        }
                        EditorialCard {
                            objectName: "transcriptCard"
                            visible: root.sheet.hasTranscript
                            growing: root.sheet.transcript.hasMore
                            Layout.fillWidth: true
                            RowLayout {
                                width: parent.width
                                TrackedLabel {
                                    Layout.fillWidth: true
                                    caption: "transcript"
                                }
                                Badge {
                                    symbol: "lock.fill"
                                    title: qsTr("Encrypted")
                                    tint: Theme.positive
                                }
                            }
                            ReviewTranscriptTurns {
                                id: transcript
                                width: parent.width
                                turns: root.sheet.transcript
                                page: review
                            }
                        }
                        EditorialCard {
                            objectName: "lifecycleCard"
                            Layout.fillWidth: true
                            TrackedLabel {
                                caption: "content lifecycle"
                            }
                            Badge {
                                objectName: "recordingBadge"
                                symbol: "checkmark.shield.fill"
                                title: root.sheet.recording
                                tint: Theme.positive
                            }
                            // Where the copies are, while the history still lists them.
                            Row {
                                objectName: "reviewCopies"
                                visible: !root.sheet.isGone
                                spacing: 16
                                BackupBadge {
                                    state: root.sheet.backup
                                }
                                EarlierHistoryBadge {
                                    visible: root.sheet.isFromEarlierHistory
                                }
                            }
                            ReadableText {
                                objectName: "lifecycleText"
                                visible: !root.sheet.isGone
                                width: parent.width
                                text: root.sheet.lifecycle
                                wrapMode: Text.Wrap
                                font: Theme.small
                                color: Theme.muted
                            }
                            PendingDeletionRow {
                                objectName: "reviewPendingDeletion"
                                visible: root.sheet.hasPendingDeletion && !root.sheet.isGone
                                width: parent.width
                                requestedByMe: root.sheet.deletionRequestedByMe
                                onDecline: root.model.declineDeletion(root.model.reviewEntryID)
                                onApprove: root.model.approveDeletion(root.model.reviewEntryID)
                            }
                            Hint {
                                objectName: "deletionNote"
                                announced: true
                                visible: root.sheet.deletionNote.length > 0
                                width: parent.width
                                symbol: "clock"
                                tint: Theme.attention
                                text: root.sheet.deletionNote
                            }
                        }
                    }
                }
            }
        }
        ConversationStartErrorBanner {
            objectName: "reviewErrorBanner"
            anchors.horizontalCenter: parent.horizontalCenter
            y: 24
            width: Math.min(implicitWidth, parent.width - 48)
            message: root.model.errorMessage
            onDismiss: root.model.dismissError()
        }
    }

    // A long transcript comes a few rows a frame once the sheet shows: its first frame lays out
    // a few rows only, each frame after adds what a share of it allows, and every turn is there
    // soon after, for a reader who scrolls and for a screen reader, which meets only the turns
    // that exist. Only the turns near the view are drawn (ShownRows), so that a frame costs the
    // same at the end of the transcript as at its start.
    Timer {
        interval: 16
        repeat: true
        running: root.opened && root.sheet.transcript.hasMore
        onTriggered: root.sheet.transcript.showMore()
    }

    ConfirmationDialog {
        id: reviewDeleteConfirmation
        objectName: "reviewDeleteConfirmation"
        title: root.sheet.deletion.title
        message: root.sheet.deletion.message
        confirmText: root.sheet.deletion.confirm
        onConfirmed: root.model.removeReviewed()
    }
}
