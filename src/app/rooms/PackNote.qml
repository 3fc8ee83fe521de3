import QtQuick
import QtQuick.Layouts
import Lumora.Theme

// The week's note from the pack, over the first section: an opening quote mark and the note
// in italics on a faint sage card.
Rectangle {
    id: root

    property string text

    implicitHeight: row.implicitHeight + 32
    radius: 16
    color: Theme.withAlpha(Theme.sage, 0.13)
    border.width: 1
    border.color: Theme.withAlpha(Theme.sage, 0.5)

    RowLayout {
        id: row
        x: 16
        y: 16
        width: root.width - 32
        spacing: 12

        Icon {
            Layout.alignment: Qt.AlignTop
            symbol: "quote.opening"
            size: 18
            color: Theme.positive
        }
        ReadableText {
            objectName: "packNoteText"
            Layout.fillWidth: true
            // The pack's words come from the server.
            text: root.text
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.displayItalic(16, Font.Normal)
            color: Theme.ink
        }
    }
}
