import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Rooms
import Lumora.Theme

// The room below 980 wide: a scrolling page of the header, the agenda, the two corners side by
// side over the stage, and the emotional arc (short content still fills the window); under it
// the stage's controls, which stay on screen so that starting, finishing or pausing never
// needs a scroll.
Item {
    id: root

    required property ConversationRoomState room
    signal sectionChosen(int section)
    signal theoryChosen
    // How far down the header and the agenda strip reach as the page scrolls, which what floats
    // over the room comes in below (the stage's gauge lies below the corners, out of its way).
    readonly property real floatsBelow: header.height + agenda.height - page.contentY
    // The height the room's banners take below the agenda: the page makes that room for them, as
    // the corners' gauges under the agenda leave none to float over.
    property real bannerSpace: 0

    Flickable {
        id: page
        objectName: "compactPage"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.bottom: controls.top
        contentWidth: width
        contentHeight: column.height
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        ScrollIndicator.vertical: PageScrollIndicator {}

        ColumnLayout {
            id: column
            width: page.width
            height: Math.max(page.height, implicitHeight)
            spacing: 0

            RoomHeader {
                id: header
                Layout.fillWidth: true
                room: root.room
                onSectionChosen: section => root.sectionChosen(section)
                onTheoryChosen: root.theoryChosen()
            }
            AgendaStrip {
                id: agenda
                Layout.fillWidth: true
                room: root.room
            }
            Item {
                objectName: "bannerSpace"
                Layout.fillWidth: true
                Layout.preferredHeight: root.bannerSpace
            }
            ColumnLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.leftMargin: 24
                Layout.rightMargin: 24
                Layout.topMargin: 16
                spacing: 16
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 16
                    RoomCorner {
                        objectName: "leftCorner"
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        Layout.alignment: Qt.AlignVCenter
                        room: root.room
                        values: root.room.leftCorner
                        keepClear: controls
                    }
                    RoomCorner {
                        objectName: "rightCorner"
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        Layout.alignment: Qt.AlignVCenter
                        room: root.room
                        values: root.room.rightCorner
                        keepClear: controls
                    }
                }
                SharedStage {
                    objectName: "sharedStage"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    Layout.minimumHeight: 500
                    room: root.room
                    showsControls: false
                }
            }
            EmotionalArcView {
                objectName: "emotionalArc"
                Layout.fillWidth: true
                Layout.preferredHeight: 128
                Layout.leftMargin: 24
                Layout.rightMargin: 24
                Layout.bottomMargin: 24
                moments: root.room.moments
                duration: root.room.arcDuration
                active: root.room.active
            }
        }
    }
    // The keyboard on "Watch a rehearsal", which the rehearsal hides, moves on to the room's
    // first control.
    FocusHandOff {
        from: stageControls.rehearsal
        to: header.mark
    }
    Rectangle {
        id: controls
        objectName: "compactControls"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: stageControls.implicitHeight + 8
        color: Theme.withAlpha(Theme.paper, 0.82)

        Rectangle {
            width: parent.width
            height: 1
            color: Theme.rule
        }
        StageControls {
            id: stageControls
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.leftMargin: 24
            anchors.rightMargin: 24
            room: root.room
        }
    }
}
