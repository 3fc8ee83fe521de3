import QtQuick
import QtQuick.Controls
import Lumora.Theme

// A window for one component under test, in the colours of the application's window.
ApplicationWindow {
    id: root

    color: Theme.ivory
    palette.window: Theme.ivory
    palette.windowText: Theme.ink
    palette.base: Theme.paper
    palette.text: Theme.ink
    palette.button: Theme.paper
    palette.buttonText: Theme.ink
    palette.highlight: Theme.navy
    palette.highlightedText: Theme.paper

    // The component fills the window.
    function host(item: Item) {
        item.anchors.fill = root.contentItem
    }
}
