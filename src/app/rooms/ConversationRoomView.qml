pragma ComponentBehavior: Bound
import QtQuick
import Lumora.Rooms
import Lumora.Theme

// The Conversation section: the live room (wide from 980, compact and scrolling below), with
// the start error banner, the hidden message and the guidance overlays over it; the check-in
// room in its place while a check-in is open. The room's state lives as long as the view, so
// that it survives the check-in and a change of arrangement.
Item {
    id: root

    required property RoomModel model
    property url theoryURL
    readonly property bool compact: root.width < 980
    readonly property alias room: room
    signal sectionChosen(int section)
    signal setupRequested

    // The room shows while the section is on screen and no check-in takes its place.
    readonly property bool showsRoom: root.visible && !root.model.hasCheckinPack
    onShowsRoomChanged: {
        if (root.showsRoom)
            room.appear()
        else
            room.disappear()
    }
    Component.onCompleted: {
        if (root.showsRoom)
            room.appear()
    }

    Item {
        objectName: "conversationRoom"
        anchors.fill: parent
        visible: !root.model.hasCheckinPack

        WindowBackground {
            anchors.fill: parent
        }
        // One arrangement at a time, made anew when the width crosses 980.
        Item {
            anchors.fill: parent
            opacity: room.roomHasAppeared ? 1 : 0
            transform: Translate {
                y: room.roomHasAppeared || Theme.reduceMotion ? 0 : 8
                Behavior on y {
                    enabled: !Theme.reduceMotion
                    NumberAnimation { duration: 600; easing.type: Easing.OutQuad }
                }
            }
            Behavior on opacity {
                enabled: !Theme.reduceMotion
                NumberAnimation { duration: 600; easing.type: Easing.OutQuad }
            }
            Repeater {
                model: root.compact ? 0 : 1
                delegate: WideRoom {
                    objectName: "wideRoom"
                    width: root.width
                    height: root.height
                    room: room
                    theoryURL: root.theoryURL
                    onSectionChosen: section => root.sectionChosen(section)
                }
            }
            Repeater {
                model: root.compact ? 1 : 0
                delegate: CompactRoom {
                    objectName: "compactRoom"
                    width: root.width
                    height: root.height
                    room: room
                    theoryURL: root.theoryURL
                    onSectionChosen: section => root.sectionChosen(section)
                }
            }
        }

        ConversationStartErrorBanner {
            objectName: "errorBanner"
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(implicitWidth, root.width - 48)
            y: 84
            message: root.model.errorMessage
            onDismiss: room.dismissError()
        }

        HiddenMessageCard {
            id: hiddenMessage
            objectName: "hiddenMessage"
            x: 24
            y: room.showThreadMessage || Theme.reduceMotion ? 24 : 0
            opacity: room.showThreadMessage ? 1 : 0
            visible: opacity > 0
            onClose: room.closeThreadMessage()
            Behavior on opacity {
                enabled: !Theme.reduceMotion
                NumberAnimation { duration: 320; easing.type: Easing.OutQuad }
            }
            Behavior on y {
                enabled: !Theme.reduceMotion
                NumberAnimation { duration: 320; easing.type: Easing.OutQuad }
            }
        }

        // At most one guidance overlay, over everything else of the room.
        BreakIntervention {
            objectName: "breakOverlay"
            anchors.fill: parent
            visible: room.overlay === ConversationRoomState.BreakOverlay
            onKeepGoing: room.keepGoing()
            onFinish: room.finishFromBreak()
        }
        CircularityIntervention {
            objectName: "cycleOverlay"
            anchors.fill: parent
            visible: room.overlay === ConversationRoomState.CycleOverlay
            rationale: room.cycleRationale
            opening: room.cycleOpening
            onDismiss: room.dismissCircularity(false)
            onAcknowledge: room.dismissCircularity(true)
        }
        FloorIntervention {
            id: floor
            objectName: "floorOverlay"
            anchors.centerIn: parent
            visible: room.overlay === ConversationRoomState.FloorOverlay
            name: room.floorName
            isFinal: room.floorFinal
            onDismiss: room.dismissFloor(floor.isFinal)
        }
    }

    CheckinRoomView {
        objectName: "checkinRoom"
        anchors.fill: parent
        visible: root.model.hasCheckinPack
        model: root.model
        onSectionChosen: section => root.sectionChosen(section)
        onSetupRequested: root.setupRequested()
    }

    // Last, so that it outlives the views that read it when the room goes.
    ConversationRoomState {
        id: room
        objectName: "roomState"
        model: root.model
        onSetupRequested: root.setupRequested()
    }
}
