import QtQuick
import QtQuick.Layouts
import Lumora.Rooms
import Lumora.Theme

// One row of the live transcript: a side's grouped turn with its name and start, the paragraph
// (the other side's interjections inside it), tinted by its strongest finding, and its
// findings' chips; drawn from the side's own edge with a rule in the side's colour.
Item {
    id: root

    required property int displaySide
    required property string nameCaption
    required property string clock
    required property string paragraph
    required property string accessibleText
    required property int wash
    required property list<transcriptChip> behaviorChips
    required property list<transcriptChip> foulChips

    readonly property color sideColour: root.displaySide === 0 ? Theme.positive : Theme.information
    readonly property bool hasWash: root.wash !== TranscriptRows.NoWash

    implicitHeight: column.implicitHeight

    Rectangle {
        objectName: "sideRule"
        width: 4
        height: root.height
        x: root.displaySide === 0 ? 0 : root.width - width
        color: Theme.withAlpha(root.sideColour, 0.28)
    }
    ColumnLayout {
        id: column
        x: root.displaySide === 0 ? 12 : 0
        width: root.width - 12
        spacing: 8

        Row {
            Layout.alignment: root.displaySide === 0 ? Qt.AlignLeft : Qt.AlignRight
            spacing: 8
            Text {
                text: root.nameCaption
                textFormat: Text.PlainText
                font.family: Theme.label.family
                font.pixelSize: 12
                font.weight: Font.Bold
                font.letterSpacing: 1.2
                color: root.sideColour
                Accessible.ignored: true
            }
            ReadableText {
                text: root.clock
                textFormat: Text.PlainText
                font: Theme.figures(12, Font.Medium)
                color: Theme.muted
                Accessible.ignored: true
            }
        }
        // The tint hugs the paragraph, on the row's own side.
        Rectangle {
            readonly property real padding: root.hasWash ? 8 : 0
            Layout.alignment: root.displaySide === 0 ? Qt.AlignLeft : Qt.AlignRight
            Layout.preferredWidth: Math.min(column.width, text.implicitWidth + padding)
            visible: text.text.length > 0
            implicitHeight: text.implicitHeight + padding
            radius: 4
            color: root.hasWash ? Theme.withAlpha(root.wash === TranscriptRows.WarmWash ? Theme.positive
                                                                                         : Theme.attention, 0.12)
                                : "transparent"
            ReadableText {
                id: text
                objectName: "paragraph"
                x: root.hasWash ? 4 : 0
                y: root.hasWash ? 4 : 0
                width: parent.width - (root.hasWash ? 8 : 0)
                // Built from escaped words: the only markup is the interjections' own.
                text: root.paragraph
                textFormat: Text.StyledText
                wrapMode: Text.Wrap
                lineHeightMode: Text.FixedHeight
                lineHeight: fontInfo.height + 4
                horizontalAlignment: root.displaySide === 0 ? Text.AlignLeft : Text.AlignRight
                font: Theme.display(16, Font.Normal)
                color: Theme.ink
                Accessible.name: root.accessibleText
                NoLinkHover {}
                FontMetrics {
                    id: fontInfo
                    font: text.font
                }
            }
        }
        // One chip per annotation, then one per foul; a row without findings keeps no gap.
        TranscriptChips {
            id: chips
            objectName: "chips"
            Layout.fillWidth: true
            visible: chips.count > 0
            behaviorChips: root.behaviorChips
            foulChips: root.foulChips
            rightToLeft: root.displaySide !== 0
        }
    }
}
