import QtQuick
import Lumora.Rooms
import Lumora.Theme

// A transcript turn's process foul as a capsule in the hard colour with a dashed outline,
// with its confidence or a count.
FindingChip {
    id: root

    // The foul's value on the wire ("kitchen_sinking").
    required property string foul
    // Below 0: not given.
    property int count: -1
    property real confidence: -1

    label: PatternTexts.foulChipLabel(root.foul, root.count, root.confidence)
    tint: Theme.attention
    dashed: true
    Accessible.role: Accessible.StaticText
    Accessible.name: root.label
}
