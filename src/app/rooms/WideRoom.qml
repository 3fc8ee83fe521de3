import QtQuick
import QtQuick.Layouts
import Lumora.Rooms
import Lumora.Theme

// The room from 980 wide: the header, the two corners beside the agenda and the stage, and the
// emotional arc along the bottom. The centre column takes what the corners leave, so that at
// the narrow end it shrinks rather than clips.
ColumnLayout {
    id: root

    required property ConversationRoomState room
    signal sectionChosen(int section)
    signal theoryChosen
    // How far down the header, the agenda strip and the stage's warm and hard gauge reach, which
    // what floats over the room comes in below.
    readonly property real floatsBelow: header.height + 12 + agenda.height + 12 + stage.gaugeBottom
    // The height the room's banners take below the stage's gauge: the stage makes that room for
    // them above its transcript, whose explainer they would cover.
    property real bannerSpace: 0

    spacing: 0

    RoomHeader {
        id: header
        Layout.fillWidth: true
        room: root.room
        onSectionChosen: section => root.sectionChosen(section)
        onTheoryChosen: root.theoryChosen()
    }
    RowLayout {
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.leftMargin: 32
        Layout.rightMargin: 32
        Layout.topMargin: 12
        Layout.bottomMargin: 8
        spacing: 16

        RoomCorner {
            objectName: "leftCorner"
            Layout.preferredWidth: 224
            Layout.alignment: Qt.AlignTop
            room: root.room
            values: root.room.leftCorner
            keepClear: stage.controls
        }
        ColumnLayout {
            objectName: "centreColumn"
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 12
            AgendaStrip {
                id: agenda
                Layout.fillWidth: true
                room: root.room
            }
            SharedStage {
                id: stage
                objectName: "sharedStage"
                Layout.fillWidth: true
                Layout.fillHeight: true
                room: root.room
                bannerSpace: root.bannerSpace
            }
        }
        RoomCorner {
            objectName: "rightCorner"
            Layout.preferredWidth: 224
            Layout.alignment: Qt.AlignTop
            room: root.room
            values: root.room.rightCorner
            keepClear: stage.controls
        }
    }
    // The keyboard on "Watch a rehearsal", which the rehearsal hides, moves on to the room's
    // first control.
    FocusHandOff {
        from: stage.controls.rehearsal
        to: header.mark
    }
    EmotionalArcView {
        objectName: "emotionalArc"
        Layout.fillWidth: true
        Layout.preferredHeight: 100
        Layout.leftMargin: 32
        Layout.rightMargin: 32
        Layout.bottomMargin: 12
        moments: root.room.moments
        duration: root.room.arcDuration
        active: root.room.active
    }
}
