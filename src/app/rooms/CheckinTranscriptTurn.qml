import QtQuick
import QtQuick.Layouts
import Lumora.Theme

// One grouped turn of the check-in's transcript: the speaker's name and start over the plain
// paragraph, the other seat's interjections quoted inside it.
ColumnLayout {
    id: root

    required property string nameCaption
    required property color nameColour
    required property string clock
    required property string paragraph
    required property string accessibleText
    // Where its top lies in the view, and the part of the view the eye sees. Words wholly out of
    // that part (under what stays in view over the page, or scrolled out of it) are not drawn,
    // and a screen reader meets them as not showing.
    property real topInView: 0
    property real sightTop: -Infinity
    property real sightBottom: Infinity
    readonly property bool wordsInSight: root.topInView + text.y + text.height > root.sightTop
        && root.topInView + text.y < root.sightBottom

    spacing: 6

    Row {
        spacing: 8
        Text {
            id: name
            objectName: "turnName"
            text: root.nameCaption
            textFormat: Text.PlainText
            font.family: Theme.label.family
            font.pixelSize: Theme.label.pixelSize
            font.weight: Theme.label.weight
            font.letterSpacing: 1.1
            color: root.nameColour
            Accessible.ignored: true
        }
        ReadableText {
            text: root.clock
            textFormat: Text.PlainText
            font: Theme.figures(11, Font.Medium)
            color: Theme.muted
            anchors.baseline: name.baseline
            Accessible.ignored: true
        }
    }
    ReadableText {
        id: text
        objectName: "turnParagraph"
        Layout.fillWidth: true
        // Transcribed words: shown as they were said, never as markup.
        text: root.paragraph
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        lineHeightMode: Text.FixedHeight
        lineHeight: metrics.height + 3
        font: Theme.display(15, Font.Normal)
        color: Theme.ink
        opacity: root.wordsInSight ? 1 : 0
        Accessible.name: root.accessibleText
        FontMetrics {
            id: metrics
            font: text.font
        }
    }
}
