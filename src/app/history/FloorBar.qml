pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Lumora.History
import Lumora.Theme

// Who held the floor: each seat's "Speaker N · P%" above the strip of the shares.
Column {
    id: root

    required property list<floorSegment> segments
    // The left seat's label is followed by all the room there is, so with both seats in order
    // the labels sit at the two edges; without it the labels stand together in the middle.
    readonly property bool hasLeftSeat: {
        for (let index = 0; index < root.segments.length; ++index) {
            if (root.segments[index].isLeftSeat)
                return true
        }
        return false
    }

    spacing: 8

    RowLayout {
        width: root.width
        spacing: 8
        Item {
            visible: !root.hasLeftSeat
            Layout.fillWidth: true
        }
        Repeater {
            model: root.segments
            delegate: ReadableText {
                id: legend
                required property floorSegment modelData
                Layout.fillWidth: legend.modelData.isLeftSeat
                text: legend.modelData.label
                textFormat: Text.PlainText
                font: Theme.small
                color: legend.modelData.isLeftSeat ? Theme.positive : Theme.information
            }
        }
        Item {
            visible: !root.hasLeftSeat
            Layout.fillWidth: true
        }
    }
    FloorStrip {
        objectName: "floorStrip"
        width: root.width
        height: 8
        segments: root.segments
    }
}
