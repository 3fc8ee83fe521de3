pragma ComponentBehavior: Bound
import QtQuick
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

    component FloorLabel: ReadableText {
        id: label
        required property floorSegment modelData
        objectName: "floorLabel"
        text: label.modelData.label
        textFormat: Text.PlainText
        font: Theme.small
        color: label.modelData.isLeftSeat ? Theme.positive : Theme.information
    }

    // Rows, not a layout: a layout holds on to the labels its repeater deleted (src/app/README).
    Item {
        width: root.width
        implicitHeight: Math.max(leading.implicitHeight, trailing.implicitHeight)
        Row {
            id: leading
            spacing: 8
            Repeater {
                model: root.segments
                delegate: FloorLabel {
                    id: leftLabel
                    visible: leftLabel.modelData.isLeftSeat
                }
            }
        }
        Row {
            id: trailing
            x: root.hasLeftSeat ? parent.width - trailing.width : (parent.width - trailing.width) / 2
            spacing: 8
            Repeater {
                model: root.segments
                delegate: FloorLabel {
                    id: otherLabel
                    visible: !otherLabel.modelData.isLeftSeat
                }
            }
        }
    }
    FloorStrip {
        objectName: "floorStrip"
        width: root.width
        height: 8
        segments: root.segments
    }
}
