import QtQuick
import Lumora.Shell
import Lumora.Theme

// A section whose page is not built yet: its heading on the window background.
Item {
    id: root

    required property string title
    required property string subtitle

    WindowBackground {
        anchors.fill: parent
    }
    ScrollablePage {
        anchors.fill: parent
        PageHeading {
            width: parent.width
            title: root.title
            subtitle: root.subtitle
        }
    }
}
