pragma ComponentBehavior: Bound
import QtQuick
import Lumora.Rooms
import Lumora.Theme

// One segment per section of the pack: full positive for the sections done, a lighter tone
// for the current one and faint ink for those ahead, each with its title. The segments share
// the width evenly. A Row, not a layout: a layout holds on to the segments its repeater deleted
// (src/app/README).
Row {
    id: root

    property list<checkinSection> sections
    property int index

    spacing: 8

    Repeater {
        id: segments
        model: root.sections
        delegate: Column {
            id: entry

            required property int index
            required property checkinSection modelData
            readonly property bool isCurrent: entry.index === root.index

            objectName: "progressSegment" + entry.index
            width: (root.width - root.spacing * (segments.count - 1)) / segments.count
            spacing: 6
            Accessible.role: Accessible.StaticText
            Accessible.name: qsTr("Section %1, %2").arg(entry.index + 1).arg(entry.modelData.title)
            Accessible.selected: entry.isCurrent
            Accessible.ignored: !entry.visible

            Rectangle {
                objectName: "capsule"
                width: entry.width
                height: 4
                radius: 2
                color: entry.index < root.index ? Theme.positive
                     : entry.isCurrent ? Theme.withAlpha(Theme.positive, 0.55)
                     : Theme.withAlpha(Theme.ink, 0.1)
            }
            Text {
                objectName: "segmentTitle"
                width: entry.width
                horizontalAlignment: Text.AlignHCenter
                text: entry.modelData.title
                textFormat: Text.PlainText
                // Medium, not regular: the thin strokes of 11-pixel regular type in the muted
                // tone draw lighter than the tone and read below 4.5:1.
                font: Theme.interfaceFont(11, entry.isCurrent ? Font.DemiBold : Font.Medium)
                color: entry.isCurrent ? Theme.ink : Theme.muted
                elide: Text.ElideRight
                fontSizeMode: Text.HorizontalFit
                minimumPixelSize: Math.floor(font.pixelSize * 0.7)
                Accessible.ignored: true
            }
        }
    }
}
