import QtQuick
import QtQuick.Controls
import Lumora.Rooms
import Lumora.Theme

// The stage's controls, centred: start or finish, the check-in and rehearsal entries while
// nothing runs, and pause or resume while a conversation does; a width too narrow for all of
// them wraps them onto a second line.
Item {
    id: root

    required property ConversationRoomState room

    implicitHeight: controls.implicitHeight + 16
    Flow {
        id: controls
        readonly property real naturalWidth: {
            let total = 0
            let shown = 0
            for (let i = 0; i < controls.children.length; ++i) {
                const child = controls.children[i]
                if (!child.visible)
                    continue
                total += child.implicitWidth
                shown += 1
            }
            return total + Math.max(0, shown - 1) * controls.spacing
        }
        y: 12
        width: Math.min(parent.width, naturalWidth)
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 10
        SessionActionButton {
            objectName: "primaryButton"
            text: root.room.primaryLabel
            symbol: root.room.primaryIcon
            active: root.room.primaryActive
            enabled: root.room.primaryEnabled
            Accessible.name: root.room.primaryAccessibilityLabel
            onClicked: root.room.primaryAction()
        }
        SecondaryButton {
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
            onClicked: root.room.startCheckin()
        }
        SecondaryButton {
            objectName: "rehearsalButton"
            visible: root.room.showsEntryButtons
            text: qsTr("Watch a rehearsal")
            symbol: "play.fill"
            Accessible.name: text
            onClicked: root.room.toggleRehearsal()
        }
        SecondaryButton {
            objectName: "pauseButton"
            visible: root.room.showsPause
            text: root.room.pauseLabel
            symbol: root.room.pauseIcon
            Accessible.name: text
            onClicked: root.room.model.togglePause()
        }
    }
}
