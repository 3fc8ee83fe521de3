import QtQuick
import Lumora.Rooms

// A transcript row's findings as chips, painted as one item, with an item over each chip that a
// screen reader meets: what the chip says, as a text.
FindingChips {
    id: root

    Repeater {
        model: root.rows
        delegate: Item {
            required property string label
            required property bool foul
            required property rect place
            objectName: foul ? "foulChip" : "behaviorChip"
            x: place.x
            y: place.y
            width: place.width
            height: place.height
            Accessible.role: Accessible.StaticText
            Accessible.name: label
        }
    }
}
