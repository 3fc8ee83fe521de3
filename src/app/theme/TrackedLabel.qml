import QtQuick

// A section caption: upper case, letter-spaced, muted; read out as written.
ReadableText {
    id: root

    property string caption

    text: root.caption.toUpperCase()
    textFormat: Text.PlainText
    font.family: Theme.label.family
    font.pixelSize: Theme.label.pixelSize
    font.weight: Theme.label.weight
    font.letterSpacing: 1.6
    color: Theme.muted
    Accessible.name: root.caption
}
