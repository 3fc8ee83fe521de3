import QtQuick
import Lumora.People
import Lumora.Theme

// The People section: the names of the two seats and their trends under the page heading.
Item {
    id: root

    required property PeopleModel model

    WindowBackground {
        anchors.fill: parent
    }
    ScrollablePage {
        anchors.fill: parent
        PageHeading {
            width: parent.width
            title: "People"
            subtitle: "name the two seats in the conversation"
        }
    }
}
