import QtQuick
import Lumora.Rooms

// Where one partner's corner sits, with the values the room hands it.
Item {
    id: root

    required property ConversationRoomState room
    property partnerCornerValues values

    implicitHeight: 304
}
