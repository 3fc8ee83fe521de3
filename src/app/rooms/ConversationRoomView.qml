import QtQuick
import Lumora.Theme

// The Conversation section: the room on the window background.
Item {
    id: root

    WindowBackground {
        anchors.fill: parent
    }
}
