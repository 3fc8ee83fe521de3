import QtQuick
import Lumora.Rooms
import Lumora.Theme

// A transcript turn's behaviour code as a capsule in the warm or the hard colour, with its
// confidence or a count.
FindingChip {
    id: root

    // The code's value on the wire ("criticism").
    required property string code
    // Below 0: not given.
    property int count: -1
    property real confidence: -1

    label: PatternTexts.behaviorChipLabel(root.code, root.count, root.confidence)
    tint: PatternTexts.isWarmCode(root.code) ? Theme.positive : Theme.attention
    Accessible.role: Accessible.StaticText
    Accessible.name: root.label
}
