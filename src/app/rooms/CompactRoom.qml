import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Rooms

// The room below 980 wide, scrolling: the header, the agenda, the two corners side by side
// over the stage, and the emotional arc. Short content still fills the window.
Flickable {
    id: root

    required property ConversationRoomState room
    property url theoryURL
    signal sectionChosen(int section)

    contentWidth: width
    contentHeight: column.height
    boundsBehavior: Flickable.StopAtBounds
    clip: true
    ScrollBar.vertical: ScrollBar {
        policy: ScrollBar.AlwaysOff
        Accessible.ignored: true
    }

    ColumnLayout {
        id: column
        width: root.width
        height: Math.max(root.height, implicitHeight)
        spacing: 0

        RoomHeader {
            Layout.fillWidth: true
            room: root.room
            theoryURL: root.theoryURL
            onSectionChosen: section => root.sectionChosen(section)
        }
        AgendaStrip {
            Layout.fillWidth: true
            room: root.room
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
                    Layout.alignment: Qt.AlignTop
                    room: root.room
                    values: root.room.leftCorner
                }
                RoomCorner {
                    objectName: "rightCorner"
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    Layout.alignment: Qt.AlignTop
                    room: root.room
                    values: root.room.rightCorner
                }
            }
            SharedStage {
                objectName: "sharedStage"
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumHeight: 500
                room: root.room
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
