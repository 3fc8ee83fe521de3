pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Lumora.Rooms
import Lumora.Theme

// The open section: its place in the pack with the pacing, its title, and its prompts, each
// with its source when it has one.
ColumnLayout {
    id: root

    property checkinSection section
    property int position
    property int total
    property string pacingText
    property bool isPastSuggestion

    spacing: 12

    RowLayout {
        Layout.fillWidth: true
        TrackedLabel {
            objectName: "sectionPosition"
            Layout.alignment: Qt.AlignBaseline
            caption: qsTr("section %1 of %2").arg(root.position).arg(root.total)
        }
        Item {
            Layout.fillWidth: true
        }
        Row {
            id: pacing
            objectName: "pacing"
            Layout.alignment: Qt.AlignVCenter
            spacing: 6
            Accessible.role: Accessible.StaticText
            Accessible.name: qsTr("About %1 minutes suggested for this section").arg(root.section.suggestedMinutes)
            Accessible.ignored: !pacing.visible
            Rectangle {
                objectName: "pacingDot"
                width: 7
                height: 7
                radius: 3.5
                anchors.verticalCenter: parent.verticalCenter
                color: root.isPastSuggestion ? Theme.withAlpha(Theme.warning, 0.7) : Theme.sage
            }
            ReadableText {
                objectName: "pacingText"
                text: root.pacingText
                textFormat: Text.PlainText
                font: Theme.figures(11, Font.Medium)
                color: Theme.muted
                Accessible.ignored: true
            }
        }
    }
    ReadableText {
        objectName: "sectionTitle"
        Layout.fillWidth: true
        text: root.section.title
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: Theme.display(32, Font.Medium)
        color: Theme.ink
    }
    // A Column, not a layout: a layout holds on to the prompts its repeater deleted at each step
    // to another section (src/app/README).
    Column {
        id: prompts
        Layout.fillWidth: true
        Layout.topMargin: 4
        spacing: 16
        Repeater {
            model: root.section.prompts
            delegate: Column {
                id: prompt

                required property int index
                required property string modelData
                readonly property string source: root.section.promptSources[prompt.index] ?? ""

                width: prompts.width
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
}
