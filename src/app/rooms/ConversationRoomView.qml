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
    readonly property bool compact: root.width < 980
    // Where the arrangement's fixed parts at the top end (the header, the agenda strip and, where
    // it lies right under them, the stage's gauge): the banners come in below, not over them.
    property real floatsBelow: 84
    // The height the banners take from their top, with the space after them: the arrangement
    // makes that room for them below its fixed parts, so that they cover none of its headings.
    readonly property real bannerSpace: finishNotice.visible ? finishNotice.y + finishNotice.height + 12 - errorBanner.y
        : errorBanner.visible ? errorBanner.height + 12 : 0
    readonly property alias room: room
    // The check-in's page while it shows; the room itself does not scroll by the keys.
    readonly property ScrollablePage scroller: root.model.hasCheckinPack && checkinRoom.item
        ? (checkinRoom.item as CheckinRoomView).scroller : null
    signal sectionChosen(int section)
    signal setupRequested
    signal theoryChosen

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
        // One arrangement at a time, made anew when the width crosses 980, with the finish
        // notice. Over it, bottom to top: the guidance overlays, the start error banner and the
        // hidden message. A break or a cycle card dims it under the card's backdrop, and a screen
        // reader then meets none of it.
        CoveredContent {
            anchors.fill: parent
            covered: room.overlay === ConversationRoomState.BreakOverlay
                || room.overlay === ConversationRoomState.CycleOverlay
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
                    id: wide
                    objectName: "wideRoom"
                    onFloatsBelowChanged: root.floatsBelow = wide.floatsBelow
                    Component.onCompleted: root.floatsBelow = wide.floatsBelow
                    width: root.width
                    height: root.height
                    room: room
                    bannerSpace: root.bannerSpace
                    onSectionChosen: section => root.sectionChosen(section)
                    onTheoryChosen: root.theoryChosen()
                }
            }
            Repeater {
                model: root.compact ? 1 : 0
                delegate: CompactRoom {
                    id: compactRoom
                    objectName: "compactRoom"
                    onFloatsBelowChanged: root.floatsBelow = compactRoom.floatsBelow
                    Component.onCompleted: root.floatsBelow = compactRoom.floatsBelow
                    width: root.width
                    height: root.height
                    room: room
                    bannerSpace: root.bannerSpace
                    onSectionChosen: section => root.sectionChosen(section)
                    onTheoryChosen: root.theoryChosen()
                }
            }
            // The sentence a finish ended with, with the way to its review, under the start
            // error banner: part of the room, so that a card's backdrop dims it with the room.
            ConversationStartErrorBanner {
                id: finishNotice
                objectName: "finishNotice"
                anchors.horizontalCenter: parent.horizontalCenter
                y: errorBanner.visible ? errorBanner.y + errorBanner.height + 12 : errorBanner.y
                width: Math.min(implicitWidth, root.width - 48)
                calm: true
                message: root.model.finishNotice
                actionText: qsTr("Read it in History")
                onDismiss: root.model.dismissFinishNotice()
                onAction: {
                    root.model.dismissFinishNotice()
                    root.sectionChosen(Sections.History)
                }
            }
        }

        // The keyboard that left "Finish conversation" lands on the way to the review as the
        // notice shows.
        FocusHandOff {
            to: finishNotice.actionControl
            takesStrayKeyboard: true
        }

        // At most one guidance overlay, over the room; the banner and the hidden message lie
        // above it, so that their own buttons stay theirs during a break.
        LoadedWhenShown {
            id: breakOverlay
            objectName: "breakOverlay"
            anchors.fill: parent
            visible: room.overlay === ConversationRoomState.BreakOverlay
            file: "qrc:/Lumora/Rooms/BreakIntervention.qml"
        }
        Connections {
            target: breakOverlay.item
            function onKeepGoing() {
                room.keepGoing()
            }
            function onFinish() {
                room.finishFromBreak()
            }
        }
        LoadedWhenShown {
            id: cycleOverlay
            objectName: "cycleOverlay"
            anchors.fill: parent
            visible: room.overlay === ConversationRoomState.CycleOverlay
            file: "qrc:/Lumora/Rooms/CircularityIntervention.qml"
            properties: () => ({
                    rationale: Qt.binding(() => room.cycleRationale),
                    opening: Qt.binding(() => room.cycleOpening)
                })
        }
        Connections {
            target: cycleOverlay.item
            function onDismiss() {
                room.dismissCircularity(false)
            }
            function onAcknowledge() {
                room.dismissCircularity(true)
            }
        }
        LoadedWhenShown {
            id: floorOverlay
            objectName: "floorOverlay"
            anchors.centerIn: parent
            visible: room.overlay === ConversationRoomState.FloorOverlay
            file: "qrc:/Lumora/Rooms/FloorIntervention.qml"
            properties: () => ({
                    name: Qt.binding(() => room.floorName),
                    isFinal: Qt.binding(() => room.floorFinal)
                })
        }
        Connections {
            target: floorOverlay.item
            function onDismiss() {
                room.dismissFloor(room.floorFinal)
            }
        }

        // The start error banner, over the guidance overlays.
        ConversationStartErrorBanner {
            id: errorBanner
            objectName: "errorBanner"
            anchors.horizontalCenter: parent.horizontalCenter
            y: Math.max(16, root.floatsBelow + 12)
            width: Math.min(implicitWidth, root.width - 48)
            message: room.bannerMessage
            onDismiss: room.dismissError()
        }

        // The hidden message, like the guidance overlays, is loaded by address the first time
        // it shows: most runs never see it.
        LoadedWhenShown {
            id: hiddenMessage
            objectName: "hiddenMessage"
            x: 24
            y: room.showThreadMessage || Theme.reduceMotion ? 24 : 0
            opacity: room.showThreadMessage ? 1 : 0
            visible: opacity > 0
            file: "qrc:/Lumora/Rooms/HiddenMessageCard.qml"
            Behavior on opacity {
                enabled: !Theme.reduceMotion
                NumberAnimation { duration: 320; easing.type: Easing.OutQuad }
            }
            Behavior on y {
                enabled: !Theme.reduceMotion
                NumberAnimation { duration: 320; easing.type: Easing.OutQuad }
            }
        }
        Connections {
            target: hiddenMessage.item
            function onClose() {
                room.closeThreadMessage()
            }
        }
    }

    // The check-in room, loaded by address the first time a pack opens.
    LoadedWhenShown {
        id: checkinRoom
        objectName: "checkinRoom"
        anchors.fill: parent
        visible: root.model.hasCheckinPack
        file: "qrc:/Lumora/Rooms/CheckinRoomView.qml"
        properties: () => ({ model: root.model })
    }
    Connections {
        target: checkinRoom.item
        function onSectionChosen(section: int) {
            root.sectionChosen(section)
        }
        function onSetupRequested() {
            root.setupRequested()
        }
    }

    // Last, so that it outlives the views that read it when the room goes.
    ConversationRoomState {
        id: room
        objectName: "roomState"
        model: root.model
        onSetupRequested: root.setupRequested()
    }
}
