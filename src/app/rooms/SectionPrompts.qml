pragma ComponentBehavior: Bound
import QtQuick
import Lumora.Rooms
import Lumora.Theme

// The open section's prompts, each with its source when it has one. A Column, not a layout: a
// layout holds on to the prompts its repeater deleted at each step to another section
// (src/app/README).
Column {
    id: root

    property checkinSection section

    spacing: 16

    Repeater {
        model: root.section.prompts
        delegate: Column {
            id: prompt

            required property int index
            required property string modelData
            readonly property string source: root.section.promptSources[prompt.index] ?? ""

            width: root.width
            spacing: 4
            ReadableText {
                objectName: "promptText"
                width: prompt.width
                text: prompt.modelData
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                lineHeightMode: Text.FixedHeight
                lineHeight: promptMetrics.height + 4
                font: Theme.display(20, Font.Normal)
                color: Theme.ink
                FontMetrics {
                    id: promptMetrics
                    font: Theme.display(20, Font.Normal)
                }
            }
            ReadableText {
                objectName: "promptSource"
                width: prompt.width
                visible: prompt.source.length > 0
                text: qsTr("from %1").arg(prompt.source)
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
        }
    }
}
