import QtQuick
import Lumora.Theme

// One turn of a review's transcript: the seat's name over a bubble of what was said, at the
// leading edge for the left seat and the trailing edge for the other; the other seat's
// interjections run inline in its colour. A turn is drawn only while the page shows it or
// nearly (`shown`, which the transcript sets), so that each frame of a long transcript costs only
// those; every turn keeps its size and what a screen reader meets, its seat's name with its
// words, where they are drawn. The keyboard steps onto the words, which then show a ring.
Item {
    id: root

    required property bool isLeftSeat
    required property string name
    required property string paragraph
    required property string accessibleText
    property bool shown: false
    // What the keyboard steps onto.
    readonly property Item words: spoken

    // The keyboard or a screen reader came onto the turn.
    signal focused()

    implicitHeight: header.implicitHeight + 4 + bubble.height

    ReadableText {
        id: header
        visible: root.shown
        anchors.left: root.isLeftSeat ? parent.left : undefined
        anchors.right: root.isLeftSeat ? undefined : parent.right
        text: ThemeFonts.upperCased(root.name)
        textFormat: Text.PlainText
        font.family: Theme.label.family
        font.pixelSize: Theme.label.pixelSize
        font.weight: Theme.label.weight
        font.letterSpacing: 1.1
        color: root.isLeftSeat ? Theme.positive : Theme.information
        Accessible.ignored: true
    }
    Rectangle {
        id: bubble
        visible: root.shown
        y: header.implicitHeight + 4
        anchors.left: root.isLeftSeat ? parent.left : undefined
        anchors.right: root.isLeftSeat ? undefined : parent.right
        // As wide as the wrapped words need, up to the whole width.
        width: Math.min(root.width, words.implicitWidth + 24)
        height: words.height + 24
        radius: 12
        color: Theme.withAlpha(root.isLeftSeat ? Theme.sage : Theme.blue, 0.14)

        Text {
            id: words
            objectName: "transcriptParagraph"
            x: 12
            y: 12
            width: bubble.width - 24
            text: root.paragraph
            // The paragraph's words are escaped; only the interjections' styling is markup.
            textFormat: Text.RichText
            wrapMode: Text.Wrap
            font: Theme.display(15, Font.Normal)
            color: Theme.ink
            Accessible.ignored: true
            NoLinkHover {}
        }
    }
    // What a screen reader meets, drawn or not, where it is drawn: who spoke and their words.
    Item {
        id: spoken
        objectName: "transcriptTurn"
        x: bubble.x
        y: bubble.y
        width: bubble.width
        height: bubble.height
        Accessible.role: Accessible.StaticText
        Accessible.name: root.accessibleText
        Accessible.focusable: true
        onActiveFocusChanged: {
            if (spoken.activeFocus)
                root.focused()
        }

        FocusRing {
            visible: spoken.activeFocus
            controlRadius: bubble.radius
        }
    }
}
