import QtQuick
import Lumora.Theme

// The History section: the reviews of past conversations under the page heading.
Item {
    id: root

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
