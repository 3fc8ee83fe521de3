pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Lumora.Rooms
import Lumora.Theme

// The weekly check-in, in the conversation room's place while a pack is open: the header with
// the week and the status, the sections one at a time with their navigation and what has been
// said so far, and the actions bar; once the check-in is saved, only the saved panel.
Item {
    id: root

    required property RoomModel model
    signal sectionChosen(int section)
    signal setupRequested

    readonly property alias checkin: checkin
    // The page, while a pack is open: the window gives it the scrolling keys no control took.
    property ScrollablePage scroller: null

    onVisibleChanged: {
        if (root.visible)
            checkin.appear()
        else
            checkin.disappear()
    }
    Component.onCompleted: {
        if (root.visible)
            checkin.appear()
    }

    WindowBackground {
        anchors.fill: parent
    }

    // The room's items exist only while a pack is open, so that nothing of it stands in the
    // conversation room's way (or its tests') while it is closed.
    Repeater {
        model: root.model.hasCheckinPack ? 1 : 0
        delegate: Item {
            width: root.width
            height: root.height
            ColumnLayout {
                anchors.fill: parent
                spacing: 0

                // The header: brand, title and week, the status pill, and the way out.
                Rectangle {
                    objectName: "checkinHeader"
                    Layout.fillWidth: true
                    implicitHeight: header.implicitHeight + 32
                    color: Theme.withAlpha(Theme.paper, 0.82)

                    RowLayout {
                        id: header
                        anchors.fill: parent
                        anchors.leftMargin: 32
                        anchors.rightMargin: 32
                        anchors.topMargin: 16
                        anchors.bottomMargin: 16
                        spacing: 16

                        Row {
                            spacing: 12
                            CorvaneBrandMark {
                                size: 40
                                isDecorative: true
                                anchors.verticalCenter: parent.verticalCenter
                            }
                            Column {
                                spacing: 4
                                anchors.verticalCenter: parent.verticalCenter
                                ReadableText {
                                    objectName: "checkinTitle"
                                    text: qsTr("Weekly check-in")
                                    textFormat: Text.PlainText
                                    font: Theme.display(26, Font.Medium)
                                    color: Theme.ink
                                }
                                ReadableText {
                                    objectName: "checkinWeek"
                                    text: checkin.weekText
                                    textFormat: Text.PlainText
                                    font.family: Theme.interfaceFont(10, Font.Bold).family
                                    font.pixelSize: 10
                                    font.weight: Font.Bold
                                    font.letterSpacing: 1.4
                                    color: Theme.muted
                                }
                            }
                        }
                        Item {
                            Layout.fillWidth: true
                        }
                        StatusPill {
                            objectName: "checkinStatusPill"
                            visible: checkin.showsPill
                            label: checkin.pillLabel
                            dotLive: checkin.dotLive
                            liveColour: Theme.positive
                            showsClock: checkin.showsClock
                            clockText: checkin.clockText
                        }
                        SecondaryButton {
                            id: leaveCheckin
                            objectName: "leaveCheckinButton"
                            visible: checkin.showsLeave
                            text: qsTr("Leave check-in")
                            symbol: "arrow.uturn.left"
                            onClicked: root.model.closeCheckin()
                        }
                    }
                    Rectangle {
                        anchors.bottom: parent.bottom
                        width: parent.width
                        height: 1
                        color: Theme.rule
                    }
                }

                // The page, and over it the section's strip and heading: they lie in their place
                // at the top of the page and, once the page has scrolled past it, stay in view
                // under the header while the rest scrolls under them.
                Item {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true

                    Rectangle {
                        id: sectionHead
                        objectName: "sectionHead"
                        readonly property real margin: 12
                        // Where its place on the page lies in the view.
                        readonly property real placeY: headPlace.y + page.verticalPadding - page.contentY - sectionHead.margin
                        readonly property bool pinned: sectionHead.placeY < 0

                        z: 1
                        visible: headPlace.visible
                        y: Math.max(0, sectionHead.placeY)
                        width: parent.width
                        height: head.implicitHeight + 2 * sectionHead.margin
                        color: sectionHead.pinned ? Theme.paper : Theme.withAlpha(Theme.paper, 0)

                        Column {
                            id: head
                            x: page.horizontalPadding
                            y: sectionHead.margin
                            width: parent.width - 2 * page.horizontalPadding
                            spacing: page.spacing

                            SectionProgress {
                                objectName: "sectionProgress"
                                width: parent.width
                                sections: root.model.checkinPackValue.sections
                                index: checkin.sectionIndex
                            }
                            SectionCard {
                                objectName: "sectionCard"
                                visible: checkin.hasCurrent
                                width: parent.width
                                section: checkin.current
                                position: checkin.sectionIndex + 1
                                total: checkin.total
                                pacingText: checkin.pacingText
                                isPastSuggestion: checkin.isPastSuggestion
                            }
                        }
                        Rectangle {
                            visible: sectionHead.pinned
                            anchors.bottom: parent.bottom
                            width: parent.width
                            height: 1
                            color: Theme.rule
                        }
                    }

                    ScrollablePage {
                        id: page
                        objectName: "checkinPage"
                        anchors.fill: parent
                        horizontalPadding: Math.max(32, (page.width - 760) / 2)
                        verticalPadding: 24
                        spacing: 20
                        coveredTop: sectionHead.visible && sectionHead.pinned ? sectionHead.height : 0
                        Component.onCompleted: root.scroller = page
                        Component.onDestruction: root.scroller = null

                        // What has been said so far brings its newest line into view as it grows,
                        // unless the user has scrolled up to read; scrolling back to the end takes
                        // it up again, as the keys taking the page to its newest line do.
                        property bool followsTranscript: true
                        readonly property real newestLineBottom: transcript.y + transcript.height + page.verticalPadding
                        onMovementStarted: page.followsTranscript = false
                        onMovementEnded: page.followsTranscript = page.atYEnd
                        onMoved: page.followsTranscript = page.contentY + page.height >= page.newestLineBottom - 0.5
                        function showNewestLine() {
                            if (!page.followsTranscript || !transcript.visible)
                                return
                            page.contentY = Math.max(page.contentY, Math.min(page.newestLineBottom - page.height,
                                page.contentHeight - page.height))
                        }
                        Timer {
                            id: following
                            interval: 0
                            onTriggered: page.showNewestLine()
                        }
                        EditorialCard {
                            objectName: "savedPanel"
                            visible: root.model.isCheckinFinished
                            width: parent.width

                            Row {
                                spacing: 10
                                Icon {
                                    symbol: "checkmark.seal.fill"
                                    size: 28
                                    color: Theme.positive
                                    anchors.verticalCenter: parent.verticalCenter
                                }
                                ReadableText {
                                    objectName: "savedTitle"
                                    text: checkin.savedTitle
                                    textFormat: Text.PlainText
                                    font: Theme.display(28, Font.Medium)
                                    color: Theme.positive
                                }
                            }
                            // How the finish went, where it is more than saved: a review made
                            // from the live transcript, or one kept on this computer for now.
                            ReadableText {
                                objectName: "savedNotice"
                                visible: checkin.savedNotice.length > 0
                                width: parent.width
                                text: checkin.savedNotice
                                textFormat: Text.PlainText
                                wrapMode: Text.Wrap
                                font: Theme.body
                                color: Theme.ink
                            }
                            ReadableText {
                                objectName: "savedSentence"
                                width: parent.width
                                text: qsTr("It is in your history with the summary. See you next week — and if a week goes by, that is fine too.")
                                textFormat: Text.PlainText
                                wrapMode: Text.Wrap
                                font: Theme.body
                                color: Theme.muted
                            }
                            Row {
                                spacing: 12
                                PrimaryButton {
                                    id: readInHistory
                                    objectName: "readInHistoryButton"
                                    text: qsTr("Read it in History")
                                    symbol: "clock.arrow.circlepath"
                                    // Read there, the check-in is done with, as after Close: the
                                    // Conversation tab leads to the room again.
                                    onClicked: {
                                        root.sectionChosen(Sections.History)
                                        checkin.closeSaved()
                                    }
                                }
                                SecondaryButton {
                                    objectName: "savedCloseButton"
                                    text: qsTr("Close")
                                    onClicked: checkin.closeSaved()
                                }
                            }
                        }

                        PackNote {
                            objectName: "packNote"
                            visible: !root.model.isCheckinFinished && checkin.showsPackNote
                            width: parent.width
                            text: checkin.packNote
                        }
                        // The place of the section's strip and heading, which lie over it.
                        Item {
                            id: headPlace
                            visible: !root.model.isCheckinFinished
                            width: parent.width
                            height: head.implicitHeight
                        }
                        SectionPrompts {
                            objectName: "sectionPrompts"
                            visible: !root.model.isCheckinFinished && checkin.hasCurrent
                            width: parent.width
                            section: checkin.current
                        }
                        EditorialCard {
                            id: transcript
                            objectName: "checkinTranscript"
                            visible: !root.model.isCheckinFinished && checkin.rows.count > 0
                            width: parent.width
                            onHeightChanged: following.restart()
                            TrackedLabel {
                                caption: qsTr("what you have said so far")
                            }
                            Repeater {
                                model: checkin.rows
                                delegate: CheckinTranscriptTurn {
                                    id: turn
                                    width: parent ? parent.width : 0
                                    // The eye sees the page below the section's strip and
                                    // heading while they stay in view over it. (The page goes
                                    // first as the room goes.)
                                    topInView: page ? page.verticalPadding + transcript.y
                                        + (turn.parent ? turn.parent.y : 0) + turn.y - page.contentY : 0
                                    sightTop: page ? page.coveredTop : -Infinity
                                    sightBottom: page ? page.height : Infinity
                                }
                            }
                        }
                        EditorialCard {
                            objectName: "listeningCard"
                            visible: !root.model.isCheckinFinished && checkin.showsListening
                            width: parent.width
                            ReadableText {
                                width: parent.width
                                text: qsTr("Listening. Your words will appear here as you talk.")
                                textFormat: Text.PlainText
                                wrapMode: Text.Wrap
                                font: Theme.displayItalic(16, Font.Normal)
                                color: Theme.muted
                            }
                        }
                        ReadableText {
                            objectName: "notScoredNote"
                            visible: !root.model.isCheckinFinished
                            width: parent.width
                            horizontalAlignment: Text.AlignHCenter
                            text: qsTr("Nothing here is scored. Corvane just listens and writes a short summary after.")
                            textFormat: Text.PlainText
                            wrapMode: Text.Wrap
                            font: Theme.small
                            color: Theme.muted
                        }
                    }
                }

                // The actions bar: "Back" at its leading end and "Next" at its trailing end, which
                // stay in place from section to section, and between them the primary button
                // and, while live, pause or resume. Once the check-in is saved the saved panel
                // holds the way out, and the bar goes.
                Rectangle {
                    objectName: "checkinActions"
                    Layout.fillWidth: true
                    visible: !root.model.isCheckinFinished
                    implicitHeight: actions.implicitHeight + 32
                    color: Theme.withAlpha(Theme.paper, 0.82)

                    Rectangle {
                        width: parent.width
                        height: 1
                        color: Theme.rule
                    }
                    RowLayout {
                        id: actions
                        objectName: "checkinNavigation"
                        anchors.left: parent.left
                        anchors.right: parent.right
                        anchors.leftMargin: 32
                        anchors.rightMargin: 32
                        anchors.verticalCenter: parent.verticalCenter
                        spacing: 12
                        SecondaryButton {
                            id: back
                            objectName: "backButton"
                            text: qsTr("Back")
                            symbol: "chevron.left"
                            enabled: checkin.canGoBack
                            onClicked: root.model.goBackCheckinSection()
                        }
                        Item {
                            Layout.fillWidth: true
                        }
                        SessionActionButton {
                            id: checkinPrimary
                            objectName: "checkinPrimaryButton"
                            text: checkin.primaryLabel
                            symbol: checkin.primaryIcon
                            active: root.model.isRecording
                            enabled: checkin.primaryEnabled
                            onClicked: checkin.primaryAction()
                        }
                        SecondaryButton {
                            objectName: "checkinPauseButton"
                            visible: checkin.showsPause
                            text: checkin.pauseLabel
                            symbol: checkin.pauseIcon
                            onClicked: root.model.togglePause()
                        }
                        Item {
                            Layout.fillWidth: true
                        }
                        PrimaryButton {
                            id: next
                            objectName: "nextButton"
                            text: qsTr("Next")
                            symbol: "chevron.right"
                            enabled: checkin.canGoNext
                            onClicked: root.model.advanceCheckinSection()
                        }
                    }
                }
            }

            // The keyboard on the control that goes moves on: to the check-in's first control as
            // the check-in opens, to "Back" when "Next" is disabled on the last section, and to
            // "Read it in History" once the check-in is saved.
            FocusHandOff {
                to: leaveCheckin
                takesStrayKeyboard: true
            }
            FocusHandOff {
                from: next
                to: back
            }
            FocusHandOff {
                from: checkinPrimary
                to: readInHistory
            }

            CheckinNotice {
                objectName: "checkinNotice"
                visible: checkin.noticeMessage.length > 0
                anchors.horizontalCenter: parent.horizontalCenter
                y: 84
                // As wide as it may be, as the check-in's notice is, not as its text.
                width: Math.min(680, root.width - 48)
                message: checkin.noticeMessage
                onDismiss: checkin.dismissNotice()
            }
        }
    }

    // Last, so that it outlives the views that read it when the room goes.
    CheckinRoomState {
        id: checkin
        objectName: "checkinState"
        model: root.model
        onSetupRequested: root.setupRequested()
    }
}
