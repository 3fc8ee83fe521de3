import QtQuick
import Lumora.Theme

// One numbered hint of how to use the People page.
Column {
    id: root

    required property string number
    required property string title
    required property string detail

    spacing: 8

    ReadableText {
        text: root.number
        textFormat: Text.PlainText
        font: Theme.label
        color: Theme.attention
    }
    ReadableText {
        width: root.width
        text: root.title
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: Theme.interfaceFont(16, Font.DemiBold)
        color: Theme.ink
    }
    ReadableText {
        width: root.width
        text: root.detail
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        lineHeightMode: Text.FixedHeight
        lineHeight: Theme.small.pixelSize * 1.35 + 2
        font: Theme.small
        color: Theme.muted
    }
}
