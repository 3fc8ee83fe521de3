import QtQuick
import Lumora.Rooms

// Where the live emotional arc sits under the room.
Item {
    id: root

    required property ConversationRoomState room
}
