import QtQuick
import QtQuick.Controls
import Lumora.Rooms
import Lumora.Theme

// The stage's controls, centred: start or finish, the check-in and rehearsal entries while
// nothing runs, and pause or resume while a conversation does; a width too narrow for all of
// them wraps them onto a second line. For a moment after its buttons change meaning the row
// takes no press (the second click of a double click on Finish would start a recording), until
// the pointer moves over it.
Item {
    id: root

    required property ConversationRoomState room
    readonly property alias rehearsal: rehearsal

    implicitHeight: controls.implicitHeight + 16
    HoverHandler {
        onPointChanged: root.room.pointerOverRow(point.scenePosition)
    }
    // The keyboard's focus leaves the button that finished: in its place it would start a new
    // recording.
    Connections {
        target: root.room
        function onFinishing() {
            if (primary.activeFocus)
                root.forceActiveFocus()
        }
    }
    Flow {
        id: controls
        // The width of the buttons the room shows, side by side: from the room's state rather
        // than the buttons' visibility, which is false while the section is hidden and would
        // leave the row laid out as a column when it shows again.
        readonly property real naturalWidth: primary.implicitWidth
            + (root.room.showsEntryButtons ? checkin.implicitWidth + rehearsal.implicitWidth + 2 * controls.spacing : 0)
            + (root.room.showsPause ? pause.implicitWidth + controls.spacing : 0)
        y: 12
        width: Math.min(parent.width, naturalWidth)
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 10
        SessionActionButton {
            id: primary
            objectName: "primaryButton"
            text: root.room.primaryLabel
            symbol: root.room.primaryIcon
            active: root.room.primaryActive
            enabled: root.room.primaryEnabled
            Accessible.name: root.room.primaryAccessibilityLabel
            onClicked: {
                if (root.room.takesRowPress())
                    root.room.primaryAction()
            }
        }
        SecondaryButton {
            id: checkin
            objectName: "checkinButton"
            visible: root.room.showsEntryButtons
            enabled: root.room.checkinEnabled
            text: root.room.checkinLabel
            symbol: "calendar.badge.clock"
            hoverEnabled: true
            ToolTip.visible: hovered
            ToolTip.delay: 800
            ToolTip.text: qsTr("A guided ten-minute check-in, recorded like a conversation.")
            Accessible.name: text
            Accessible.description: ToolTip.text
            onClicked: {
                if (root.room.takesRowPress())
                    root.room.startCheckin()
            }
        }
        SecondaryButton {
            id: rehearsal
            objectName: "rehearsalButton"
            visible: root.room.showsEntryButtons
            text: qsTr("Watch a rehearsal")
            symbol: "play.fill"
            Accessible.name: text
            onClicked: {
                if (root.room.takesRowPress())
                    root.room.toggleRehearsal()
            }
        }
        SecondaryButton {
            id: pause
            objectName: "pauseButton"
            visible: root.room.showsPause
            text: root.room.pauseLabel
            symbol: root.room.pauseIcon
            Accessible.name: text
            onClicked: {
                if (root.room.takesRowPress())
                    root.room.model.togglePause()
            }
        }
    }
}
