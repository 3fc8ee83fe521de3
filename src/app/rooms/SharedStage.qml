pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Rooms
import Lumora.Theme

// The room's centre column: the warm and hard moments of both partners, the live transcript
// (the explainer while it is empty) and the row of controls: start or finish, the check-in and
// rehearsal entries while nothing runs, and pause or resume while a conversation does.
ColumnLayout {
    id: root

    required property ConversationRoomState room
    // Whether the row of controls is the stage's last part; an arrangement that keeps them on
    // screen elsewhere places its own.
    property bool showsControls: true
    // How far down the warm and hard gauge reaches, with its margin.
    readonly property real gaugeBottom: gauge.y + gauge.height + 8
    // The room the banners floating over the stage take below its gauge; the transcript begins
    // under them.
    property real bannerSpace: 0
    // The row of controls, which what floats beside the stage keeps clear of.
    readonly property alias controls: stageControls

    spacing: 0

    BalanceGauge {
        id: gauge
        objectName: "balanceGauge"
        Layout.fillWidth: true
        Layout.bottomMargin: 8
        warm: root.room.warmCount
        hard: root.room.hardCount
    }
    Rectangle {
        Layout.fillWidth: true
        Layout.preferredHeight: 1
        color: Theme.withAlpha(Theme.rule, 0.3)
    }
    Item {
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.minimumHeight: 180
        Layout.topMargin: root.bannerSpace
        clip: true

        ListView {
            id: transcript
            objectName: "transcript"
            anchors.fill: parent
            anchors.bottomMargin: processing.visible ? processing.height + 8 : 0
            topMargin: 8
            bottomMargin: 8
            spacing: 16
            boundsBehavior: Flickable.StopAtBounds
            model: root.room.rows
            // The newest row stays in view while the room follows it: through new rows, rows
            // that grow, a list that shrinks and the new list of another arrangement. The user
            // scrolling up stops that; scrolling back to the end takes it up again.
            function keepNewestInView() {
                if (root.room.transcriptFollowsLatest && transcript.count > 0 && !scrolling.running)
                    transcript.positionViewAtEnd()
            }
            onMovementStarted: root.room.transcriptFollowsLatest = false
            onMovementEnded: root.room.transcriptFollowsLatest = transcript.atYEnd
            onCountChanged: {
                if (transcript.count === 0)
                    root.room.transcriptFollowsLatest = true
                following.restart()
            }
            onContentHeightChanged: following.restart()
            onHeightChanged: following.restart()
            Component.onCompleted: following.restart()
            ScrollIndicator.vertical: PageScrollIndicator {
                objectName: "transcriptScrollIndicator"
            }
            delegate: TranscriptTurn {
                width: transcript.width
            }
            // Once the rows have their heights, in the next turn of the event loop.
            Timer {
                id: following
                interval: 0
                onTriggered: transcript.keepNewestInView()
            }
            NumberAnimation {
                id: scrolling
                target: transcript
                property: "contentY"
                duration: 200
                easing.type: Easing.OutQuad
                onFinished: transcript.keepNewestInView()
            }
        }
        // Under the rows while the finished conversation is read again.
        ReadableText {
            id: processing
            objectName: "processingNote"
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 8
            visible: root.room.showsProcessingNote
            text: qsTr("Saved — running the careful second read…")
            textFormat: Text.PlainText
            font: Theme.small
            color: Theme.muted
        }
        EmptyRoom {
            objectName: "emptyRoom"
            anchors.fill: parent
            visible: transcript.count === 0
        }
        // A new row or a new piece of the last row glides the newest row into view, unless
        // the user has scrolled up to read.
        Connections {
            target: root.room
            function onLatestRowKeyChanged() {
                if (transcript.count === 0 || !root.room.transcriptFollowsLatest)
                    return
                scrolling.stop()
                const from = transcript.contentY
                transcript.positionViewAtEnd()
                if (Theme.reduceMotion)
                    return
                scrolling.from = from
                scrolling.to = transcript.contentY
                transcript.contentY = from
                scrolling.start()
            }
        }
    }
    Rectangle {
        Layout.fillWidth: true
        Layout.preferredHeight: 1
        visible: root.showsControls
        color: Theme.withAlpha(Theme.rule, 0.3)
    }
    StageControls {
        id: stageControls
        Layout.fillWidth: true
        visible: root.showsControls
        room: root.room
    }
}
