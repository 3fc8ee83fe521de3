import QtQuick
import QtQuick.Controls
import Lumora.Rooms
import Lumora.Theme

// One partner's corner beside the stage: name, the seat's warm/hard gauge, "Get unstuck" with
// its coaching popover, the share of the talk with turns and the longest turn, and the seat's
// recurring patterns once the room has any moment. It reads only what it is given.
Item {
    id: root

    // The screen side (0 left) chooses the colour; the canonical side is the speaker index
    // whose data it shows.
    required property int displaySide
    required property int canonicalSide
    // The seat's talk statistics; 0 before it has spoken.
    property real share
    property int turns
    property real longestTurn
    required property bool hasTurns
    // Every seat's moments; the corner counts its own.
    required property roomMoments moments
    // The room is live (recording, paused or rehearsing), and whether it rehearses.
    required property bool active
    property bool rehearsal
    // The live analysis's suggestion for this seat; empty without one.
    property string suggestion
    // The current agenda step's starter.
    required property string starter
    required property string name
    // The coach's answer for this seat, whether a request runs, and its failure.
    property coachNudge nudge
    property bool nudgeLoading
    property string nudgeError

    // Whether the coaching popover is open.
    property bool showNudge: false
    // What the coaching popover never covers where it would reach it: the stage's row of
    // controls, "Finish conversation" among them.
    property Item keepClear: null

    readonly property color seatColor: RoomFormats.seatColor(root.displaySide)

    // Asks the coach for a suggestion aimed at this seat.
    signal getUnstuck

    implicitWidth: 224
    implicitHeight: bar.height + 8 + Math.max(300, content.implicitHeight)

    onShowNudgeChanged: {
        if (root.showNudge)
            popover.open()
        else
            popover.close()
    }

    PartnerCornerState {
        id: reading
        moments: root.moments
        canonicalSide: root.canonicalSide
        suggestion: root.suggestion
        starter: root.starter
    }

    Rectangle {
        id: bar
        width: root.width
        height: 4
        color: Theme.withAlpha(root.seatColor, 0.72)
    }
    Column {
        id: content
        y: bar.height + 8
        width: root.width
        spacing: 12

        // Changes follow the latest code to coach on with a short ease-out.
        move: Transition {
            enabled: !Theme.reduceMotion
            NumberAnimation { properties: "y"; duration: 320; easing.type: Easing.OutQuad }
        }
        add: Transition {
            enabled: !Theme.reduceMotion
            NumberAnimation { properties: "opacity"; from: 0; to: 1; duration: 320; easing.type: Easing.OutQuad }
        }

        Item {
            width: parent.width
            height: nameText.implicitHeight

            ReadableText {
                id: nameText
                objectName: "cornerName"
                anchors.left: parent.left
                anchors.right: dot.left
                anchors.rightMargin: 8
                anchors.verticalCenter: parent.verticalCenter
                text: root.name
                textFormat: Text.PlainText
                elide: Text.ElideRight
                font: Theme.display(18, Font.DemiBold)
                color: root.seatColor
            }
            Rectangle {
                id: dot
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                width: 8
                height: 8
                radius: 4
                color: root.seatColor
            }
        }
        PersonalBalanceGauge {
            objectName: "cornerGauge"
            anchors.horizontalCenter: parent.horizontalCenter
            warm: reading.warm
            hard: reading.hard
        }
        CoachButtonStyle {
            id: coachButton
            objectName: "getUnstuck"
            width: parent.width
            accent: root.seatColor
            symbol: "sparkles"
            text: CoachingRules.getUnstuckLabel(root.nudgeLoading)
            // Both seats' buttons read alike: a screen reader hears whose this one is.
            Accessible.description: qsTr("Asks the coach for a suggestion for %1").arg(root.name)
            enabled: CoachingRules.canGetUnstuck(root.active, root.hasTurns, root.nudgeLoading, root.rehearsal)
            onClicked: {
                root.showNudge = true
                root.getUnstuck()
            }
        }
        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 14

            RingShare {
                objectName: "cornerRing"
                anchors.verticalCenter: parent.verticalCenter
                share: root.share
                color: root.seatColor
                size: 72
            }
            Column {
                anchors.verticalCenter: parent.verticalCenter
                spacing: 8

                Row {
                    spacing: 6

                    ReadableText {
                        objectName: "cornerTurns"
                        anchors.baseline: turnsCaption.baseline
                        text: RoomFormats.count(root.turns)
                        textFormat: Text.PlainText
                        font: Theme.interfaceFont(18, Font.DemiBold)
                        color: Theme.ink
                    }
                    ReadableText {
                        id: turnsCaption
                        text: "turns"
                        textFormat: Text.PlainText
                        font: Theme.small
                        color: Theme.muted
                    }
                }
                Row {
                    spacing: 6

                    ReadableText {
                        objectName: "cornerLongest"
                        anchors.baseline: longestCaption.baseline
                        text: RoomFormats.clock(root.longestTurn)
                        textFormat: Text.PlainText
                        font: Theme.figures(15, Font.Medium)
                        color: Theme.ink
                    }
                    ReadableText {
                        id: longestCaption
                        text: "longest"
                        textFormat: Text.PlainText
                        font: Theme.small
                        color: Theme.muted
                    }
                }
            }
        }
        CompactSignalSummary {
            objectName: "cornerPatterns"
            visible: !root.moments.isEmpty
            width: parent.width
            moments: root.moments
            side: root.canonicalSide
        }
    }

    ContextCoachPopover {
        id: popover
        objectName: "coachPopover"
        nudge: root.nudge
        genericStarter: reading.genericStarter
        loading: root.nudgeLoading
        error: root.nudgeError
        accent: root.seatColor
        margins: 12
        // Below the button, centred on it, where the window has room for it there, else above
        // it: never over the button it answers, the window's menu bar nor the controls it keeps
        // clear of, its pointer on the button's middle. The window's edges keep it in view; its
        // height grows as its content is made, up to the room on its side, past which its
        // content scrolls.
        function place() {
            const window = coachButton.Window.window
            if (!window)
                return
            const menu = coachButton.ApplicationWindow.menuBar
            const ceiling = (menu && menu.visible ? menu.height : 0) + popover.margins
            const top = coachButton.mapToItem(null, 0, 0).y
            const bottom = top + coachButton.height
            const gap = 8 + popover.pointerSize
            const middle = coachButton.mapToItem(null, coachButton.width / 2, 0).x
            const left = Math.max(popover.margins,
                Math.min(window.width - popover.margins - popover.width, middle - popover.width / 2))
            let floor = window.height
            const clear = root.keepClear
            if (clear && clear.visible) {
                const area = clear.mapToItem(null, 0, 0, clear.width, clear.height)
                if (area.x < left + popover.width && left < area.x + area.width && area.y > bottom)
                    floor = Math.min(floor, area.y)
            }
            const below = floor - popover.margins - bottom - gap
            const above = top - gap - ceiling
            popover.topMargin = ceiling
            popover.pointsUp = below >= popover.implicitHeight || below >= above
            popover.height = Math.min(popover.implicitHeight, Math.max(popover.pointsUp ? below : above, 0))
            const corner = root.mapToItem(null, 0, 0)
            popover.x = left - corner.x
            popover.y = (popover.pointsUp ? bottom + gap : top - gap - popover.height) - corner.y
            popover.pointerX = middle - left
        }
        onAboutToShow: popover.place()
        onImplicitHeightChanged: {
            if (popover.visible)
                popover.place()
        }
        onRetry: root.getUnstuck()
        onClosed: root.showNudge = false
    }
}
