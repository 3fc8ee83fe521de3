import QtQuick
import Lumora.Rooms
import Lumora.Theme

// The Conversation section: the room on the window background.
Item {
    id: root

    required property RoomModel model

    WindowBackground {
        anchors.fill: parent
    }
}
