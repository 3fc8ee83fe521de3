import QtQuick
import Lumora.History
import Lumora.Theme

// The History section: the reviews of past conversations under the page heading.
Item {
    id: root

    required property HistoryModel model

    // Each time the page comes on screen it refreshes the history from the server.
    onVisibleChanged: {
        if (root.visible)
            root.model.synchronize(true)
    }

    WindowBackground {
        anchors.fill: parent
    }
    ScrollablePage {
        anchors.fill: parent
        PageHeading {
            width: parent.width
            title: "History"
            subtitle: "your conversation reviews"
        }
    }
}
