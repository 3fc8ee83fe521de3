import QtQuick
import Lumora.Rooms
import Lumora.Theme

// The weekly check-in, shown in the conversation room's place while a pack is open.
Item {
    id: root

    required property RoomModel model
    signal sectionChosen(int section)
    signal setupRequested

    WindowBackground {
        anchors.fill: parent
    }
}
