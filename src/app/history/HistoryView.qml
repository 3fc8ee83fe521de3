pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Lumora.History
import Lumora.Theme

// The History section: the reviews of past conversations as cards under three totals, the
// ones hidden from this user's view below them, the review sheet, and the confirmation of a
// deletion. With nothing yet it points to the conversation room.
Item {
    id: root

    required property HistoryModel model
    readonly property alias showHidden: hiddenToggle.checked
    // The page, which the window gives the scrolling keys no control took.
    readonly property alias scroller: page
    signal goToConversation

    // The model refreshes the history while the page is on screen; the window makes the page
    // when it is first shown, already visible. As the window goes, the model may go first.
    function tellShown(shown: bool) {
        if (root.model)
            root.model.setShown(shown)
    }
    onVisibleChanged: root.tellShown(root.visible)
    Component.onCompleted: root.tellShown(root.visible)
    Component.onDestruction: root.tellShown(false)

    WindowBackground {
        anchors.fill: parent
    }
    ScrollablePage {
        id: page
        objectName: "historyScroll"
        anchors.fill: parent

        PageHeading {
            width: parent.width
            title: "History"
            subtitle: "your conversation reviews"
        }
        LocalDataPromise {
            width: parent.width
            title: qsTr("Saved for you, encrypted")
            badge: qsTr("ENCRYPTED")
            detail: qsTr("The recording is deleted after it is transcribed \u2014 audio is never stored. Transcripts and reviews are encrypted on this computer and in your Corvane account, so your history is here on any computer you sign in to. Delete any conversation and it goes from both.")
        }
        RefreshFailedNotice {
            objectName: "refreshFailedNotice"
            visible: root.model.refreshFailed
            width: parent.width
            onRetry: root.model.synchronize(true)
        }
        KeptLocalNotice {
            objectName: "keptLocalNotice"
            visible: HistoryTexts.showsKeptLocalNotice(root.model.conversationsKeptLocal, root.model.migrationChoice)
            width: parent.width
            count: root.model.conversationsKeptLocal
            onBackUp: root.model.backUpKeptLocal()
        }
        EditorialCard {
            objectName: "emptyHistory"
            visible: root.model.overview.isEmpty
            width: parent.width
            Row {
                spacing: 10
                Icon {
                    anchors.verticalCenter: parent.verticalCenter
                    symbol: "clock.badge.checkmark"
                    size: 26
                    color: Theme.ink
                }
                ReadableText {
                    anchors.verticalCenter: parent.verticalCenter
                    text: qsTr("A quiet place for what you learn")
                    font: Theme.display(24, Font.Medium)
                    color: Theme.ink
                }
            }
            ReadableText {
                width: parent.width
                text: qsTr("After your first conversation, its transcript, emotional arc, and practical observations will appear here, encrypted and saved to your account.")
                wrapMode: Text.Wrap
                font: Theme.body
                color: Theme.muted
            }
            PrimaryButton {
                objectName: "startConversationButton"
                text: qsTr("Start a conversation")
                symbol: "waveform"
                onClicked: root.goToConversation()
            }
        }
        RowLayout {
            objectName: "historyMetrics"
            visible: root.model.overview.hasVisibleEntries
            width: parent.width
            spacing: 16
            HistoryMetric {
                objectName: "conversationsMetric"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                value: root.model.overview.conversations
                label: root.model.overview.conversationsLabel
                tint: Theme.navy
            }
            HistoryMetric {
                objectName: "timeMetric"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                value: root.model.overview.timeTogether
                label: qsTr("time together")
                tint: Theme.positive
            }
            HistoryMetric {
                objectName: "turnsMetric"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                value: root.model.overview.turnsHeard
                label: qsTr("turns heard")
                tint: Theme.information
            }
        }
        Grid {
            id: grid
            objectName: "historyGrid"
            visible: root.model.overview.hasVisibleEntries
            width: parent.width
            columns: HistoryTexts.gridColumns(grid.width)
            columnSpacing: 16
            rowSpacing: 16
            readonly property real cellWidth: (grid.width - (grid.columns - 1) * grid.columnSpacing) / grid.columns

            Repeater {
                model: root.model.visibleEntries
                delegate: Column {
                    id: cell
                    required property string entryID
                    required property string heading
                    required property string time
                    required property string subtitle
                    required property bool isCheckin
                    required property string checkinLabel
                    required property bool hasResult
                    required property string summary
                    required property bool hasTally
                    required property string warm
                    required property string hard
                    required property list<floorSegment> floor
                    required property int backup
                    required property string backupNote
                    required property bool isFromEarlierHistory
                    required property bool isHidden
                    required property bool hasPendingDeletion
                    required property bool deletionRequestedByMe

                    objectName: "historyCell:" + cell.entryID
                    width: grid.cellWidth
                    spacing: 8
                    // A card more than a page away from what the page shows is not drawn (it
                    // keeps its place): a long history would otherwise draw every card in each frame.
                    readonly property real topInView: page.verticalPadding + grid.y + cell.y - page.contentY
                    opacity: cell.topInView + cell.height > -page.height && cell.topInView < 2 * page.height ? 1 : 0

                    Item {
                        width: cell.width
                        height: cardButton.height

                        TactileButton {
                            id: cardButton
                            objectName: "historyCard:" + cell.entryID
                            width: parent.width
                            height: card.implicitHeight
                            enabled: root.model.openingEntryID.length === 0
                            focusRadius: 16
                            Accessible.name: cell.heading
                            Accessible.description: card.spokenDetails + " " + qsTr("Opens the review")
                            onClicked: root.model.openReview(cell.entryID)
                            contentItem: HistoryCard {
                                id: card
                                objectName: "card:" + cell.entryID
                                heading: cell.heading
                                time: cell.time
                                subtitle: cell.subtitle
                                isCheckin: cell.isCheckin
                                checkinLabel: cell.checkinLabel
                                hasResult: cell.hasResult
                                summary: cell.summary
                                hasTally: cell.hasTally
                                warm: cell.warm
                                hard: cell.hard
                                floor: cell.floor
                                backup: cell.backup
                                backupNote: cell.backupNote
                                isFromEarlierHistory: cell.isFromEarlierHistory
                                isOpening: root.model.openingEntryID === cell.entryID
                                outline: cardButton.hovered ? Theme.withAlpha(Theme.navy, 0.3) : Theme.rule
                            }
                        }
                        // The same actions on a right click anywhere on the card.
                        TapHandler {
                            acceptedButtons: Qt.RightButton
                            onTapped: actions.popup()
                        }
                        TactileButton {
                            id: moreButton
                            objectName: "moreActions:" + cell.entryID
                            anchors.right: parent.right
                            anchors.bottom: parent.bottom
                            anchors.margins: 20
                            width: 30
                            height: 30
                            focusRadius: 15
                            Accessible.name: qsTr("More actions for this conversation")
                            // Which conversation: every card has one such button.
                            Accessible.description: (cell.heading.length > 0 ? cell.heading + ", " : "") + card.when
                            onClicked: actions.popup(moreButton, 0, moreButton.height)
                            background: Rectangle {
                                radius: 15
                                color: moreButton.hovered ? Theme.withAlpha(Theme.rule, 0.75) : Theme.withAlpha(Theme.rule, 0)
                            }
                            contentItem: Icon {
                                symbol: "ellipsis.circle"
                                size: 22
                                color: Theme.muted
                            }
                        }
                        HistoryActions {
                            id: actions
                            objectName: "historyActions:" + cell.entryID
                            model: root.model
                            entryID: cell.entryID
                            backup: cell.backup
                            isHidden: cell.isHidden
                            onRequestDelete: root.model.requestDelete(cell.entryID)
                        }
                    }
                    PendingDeletionRow {
                        objectName: "pendingDeletion:" + cell.entryID
                        visible: cell.hasPendingDeletion
                        width: cell.width
                        requestedByMe: cell.deletionRequestedByMe
                        onDecline: root.model.declineDeletion(cell.entryID)
                        onApprove: root.model.approveDeletion(cell.entryID)
                    }
                }
            }
        }
        Column {
            objectName: "hiddenSection"
            visible: root.model.overview.hiddenCount > 0
            width: parent.width
            topPadding: 16
            spacing: 12

            TactileButton {
                id: hiddenToggle
                objectName: "hiddenToggle"
                focusRadius: 8
                Accessible.name: toggleText.text
                checkable: true
                background: Rectangle {
                    radius: 8
                    color: hiddenToggle.hovered ? Theme.withAlpha(Theme.rule, 0.75) : Theme.withAlpha(Theme.rule, 0)
                }
                // Ink under the pointer: the muted tone on the hovered fill reads below 4.5:1.
                contentItem: Row {
                    spacing: 6
                    Icon {
                        anchors.verticalCenter: parent.verticalCenter
                        symbol: root.showHidden ? "chevron.down" : "chevron.right"
                        size: 18
                        color: hiddenToggle.hovered ? Theme.ink : Theme.muted
                    }
                    Text {
                        id: toggleText
                        anchors.verticalCenter: parent.verticalCenter
                        text: HistoryTexts.hiddenToggle(root.model.overview.hiddenCount)
                        textFormat: Text.PlainText
                        font: Theme.interfaceFont(14, Font.DemiBold)
                        color: hiddenToggle.hovered ? Theme.ink : Theme.muted
                    }
                }
            }
            ReadableText {
                visible: root.showHidden
                width: parent.width
                text: qsTr("These are hidden from you only. Your partner's history does not change, and nothing has been deleted.")
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
            Repeater {
                model: root.model.hiddenEntries
                delegate: Item {
                    id: hiddenRow
                    required property string entryID
                    required property string hiddenTitle
                    required property string hiddenDate

                    objectName: "hiddenRow:" + hiddenRow.entryID
                    visible: root.showHidden
                    width: parent ? parent.width : 0
                    implicitHeight: hiddenLayout.implicitHeight + 32

                    Rectangle {
                        anchors.fill: parent
                        radius: 12
                        color: Theme.withAlpha(Theme.paper, 0.7)
                        border.color: Theme.rule
                        border.width: 1
                    }
                    RowLayout {
                        id: hiddenLayout
                        x: 16
                        y: 16
                        width: hiddenRow.width - 32
                        spacing: 16
                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 4
                            ReadableText {
                                objectName: "hiddenTitle:" + hiddenRow.entryID
                                Layout.fillWidth: true
                                clip: true
                                text: hiddenRow.hiddenTitle
                                textFormat: Text.PlainText
                                elide: Text.ElideRight
                                font: Theme.interfaceFont(15, Font.DemiBold)
                                color: Theme.ink
                            }
                            ReadableText {
                                text: hiddenRow.hiddenDate
                                textFormat: Text.PlainText
                                font: Theme.small
                                color: Theme.muted
                            }
                        }
                        SecondaryButton {
                            objectName: "showInHistory:" + hiddenRow.entryID
                            text: qsTr("Show in my history")
                            onClicked: root.model.unhide(hiddenRow.entryID)
                        }
                    }
                }
            }
        }
    }

    ConfirmationDialog {
        id: deleteConfirmation
        objectName: "historyDeleteConfirmation"
        title: root.model.deleting.title
        message: root.model.deleting.message
        confirmText: root.model.deleting.confirm
        onConfirmed: root.model.confirmDelete()
        // Cancel or Escape; after a confirmation there is nothing left to let go of.
        onClosed: root.model.cancelDelete()
    }
    Connections {
        target: root.model
        function onDeletingChanged() {
            if (root.model.deletingEntryID.length > 0)
                deleteConfirmation.open()
        }
    }

    // A failed delete, hide, show, answer or review fetch is reported here, where it happened.
    ConversationStartErrorBanner {
        objectName: "historyErrorBanner"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 24
        width: Math.min(implicitWidth, root.width - 48)
        message: root.model.errorMessage
        onDismiss: root.model.dismissError()
    }

    ReviewDetail {
        objectName: "reviewDetail"
        model: root.model
    }
}
