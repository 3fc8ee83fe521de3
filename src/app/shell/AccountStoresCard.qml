import QtQuick
import Lumora.Shell
import Lumora.Theme

// Signed out: what an account would keep, and what it never keeps.
EditorialCard {
    TrackedLabel {
        caption: "what an account stores"
    }
    ReadableText {
        width: parent.width
        text: qsTr("Your history, encrypted—never your audio")
        wrapMode: Text.Wrap
        font: Theme.display(24, Font.Medium)
        color: Theme.ink
    }
    ReadableText {
        width: parent.width
        text: qsTr("Your account holds your transcripts and reviews, encrypted, so your history is there on any computer you sign in to. Audio is never stored, and speaker names stay on this computer. If you link with your partner, you share one history and you can both delete from it.")
        wrapMode: Text.Wrap
        lineHeightMode: Text.FixedHeight
        lineHeight: font.pixelSize + 7
        font: Theme.body
        color: Theme.muted
    }
}
